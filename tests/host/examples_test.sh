#!/bin/sh
# Runs quorvel-host.exe under Wine over examples/, with the example list beside a
# copy of the plug-in, and compares every verdict with examples/expected-verdicts.txt.
# Usage: examples_test.sh HOST_EXE PLUGIN_DLL SOURCE_DIR
set -eu
host=$1 plugin=$2 source=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$host" "$plugin" "$source/examples/quorvel.txt" "$work/"

cd "$source"
status=0
wine "$work/quorvel-host.exe" check examples/ >"$work/output" 2>&1 || status=$?
tr -d '\r' <"$work/output" >"$work/output.txt"

fail() {
    echo "FAIL: $1"
    echo "--- output:"
    cat "$work/output.txt"
    exit 1
}

[ "$status" -eq 0 ] || fail "exit status $status, expected 0"
head -n 1 "$work/output.txt" | grep -q '^Plug-in: Quorvel (' || fail "no plug-in name on the first line"
grep -E '^(pass|spam)  ' "$work/output.txt" >"$work/got" || true
grep -Ev '^(#|$)' examples/expected-verdicts.txt >"$work/expected"
diff -u "$work/expected" "$work/got" || fail "verdicts differ from examples/expected-verdicts.txt"

mails=$(wc -l <"$work/expected")
spam=$(grep -c '^spam' "$work/expected")
summary="$mails mails: $spam spam, $((mails - spam)) passed, 0 unreadable"
grep -q "^$summary" "$work/output.txt" || fail "no summary line '$summary'"
echo "$mails verdicts as expected"
