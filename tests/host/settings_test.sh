#!/bin/sh
# Runs quorvel-host.exe settings and page under Wine against a fake plug-in
# that logs what the host does to it, and checks the log.
# Usage: settings_test.sh HOST_EXE FAKE_PLUGIN_DLL
set -eu
host=$1 plugin=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-settings.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$host" "$work/"
mkdir "$work/plugin"
cp "$plugin" "$work/plugin/quorvel.dll"

fail() {
    echo "FAIL: $1"
    echo "--- output:"
    cat "$work/output"
    echo "--- log:"
    cat "$work/plugin/fake.log" 2>/dev/null || true
    exit 1
}

# run COMMAND EXPECTED_LOG EXPECTED_LINE [EXPECTED_STATUS]
run() {
    status=0
    wine "$work/quorvel-host.exe" --plugin "$work/plugin" "$1" >"$work/output" 2>&1 || status=$?
    [ "$status" -eq "${4:-0}" ] || fail "$1: exit status $status, expected ${4:-0}"
    tr -d '\r' <"$work/plugin/fake.log" >"$work/log"
    rm "$work/plugin/fake.log"
    printf '%s\n' "$2" >"$work/expected"
    diff -u "$work/expected" "$work/log" || fail "$1: the host did not do what a host does"
    tr -d '\r' <"$work/output" | grep -q "^$3\$" || fail "$1: no line '$3'"
}

run settings 'service 0
service 1
service 2
settings
text '"'"'Hello, '"'"'
page created
save list
release' 'Settings closed with OK: the list was saved.'

run page 'service 0
service 1
service 2
page created
save list
release' 'Settings page closed with OK: the list was saved.'

grep -q '^Plug-in: Fake plug-in (' "$work/output" || fail "no plug-in name"

# A save that fails is said, with the file's name, and ends with status 1, also
# when the dialog, left open by the failure, is then cancelled.
touch "$work/plugin/fail-save"
run settings 'service 0
service 1
service 2
settings
text '"'"'Hello, '"'"'
page created
save list fails
cancel
release' 'quorvel-host: the plug-in could not save its list to .*\\plugin\\quorvel.txt' 1
run page 'service 0
service 1
service 2
page created
save list fails
release' 'quorvel-host: the plug-in could not save its list to .*\\plugin\\quorvel.txt' 1
echo "settings and page as a host drives them"
