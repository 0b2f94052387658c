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

# Output is buffered wherever it goes: through a pipe it is what a file gets,
# a device takes it too, and an error stays in its place among the verdicts.
wine "$work/quorvel-host.exe" check examples/ 2>&1 | cat >"$work/piped" || fail "check into a pipe failed"
cmp -s "$work/output" "$work/piped" || fail "output through a pipe differs from output to a file"
wine "$work/quorvel-host.exe" check examples/ >/dev/null 2>"$work/errors" || fail "check into /dev/null failed"
[ ! -s "$work/errors" ] || fail "check into /dev/null said: $(cat "$work/errors")"
wine "$work/quorvel-host.exe" check examples/01-to-address.eml examples/missing.eml \
    examples/02-display-name.eml 2>&1 | tr -d '\r' | sed -n '2,4p' >"$work/ordered" || true
printf '%s\n' 'pass  examples/01-to-address.eml' \
    'quorvel-host: examples/missing.eml: no such file or folder' \
    'pass  examples/02-display-name.eml' | diff -u - "$work/ordered" ||
    fail "the error is not between the verdicts around it"
echo "check: the same output into a file, a pipe and a device"

# learn --write on the good mail, through the plug-in's own save, then check
# with the list it wrote: every mail learn did not name as impossible passes,
# the example spam is still caught, and learning again adds nothing.
learned="$work/learned"
mkdir "$learned"
cp "$host" "$plugin" "$source/examples/quorvel.txt" "$learned/"
wine "$learned/quorvel-host.exe" learn --write --spam examples/spam examples/good \
    >"$work/output" 2>&1 || fail "learn --write failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q '^Added 4 entries to ' "$work/output.txt" || fail "learn --write did not add 4 entries"
grep -q '^  tom@lee-family.example.net$' "$work/output.txt" || fail "tom@ was not added"
grep -q 'lets 0 through' "$work/output.txt" || fail "the proposal lets example spam through"
sed -n '/no address entry can let through/,/^[A-Z]/p' "$work/output.txt" |
    sed -n 's/^  \(examples\/[^ ]*\)$/\1/p' >"$work/impossible"
[ "$(cat "$work/impossible")" = "examples/good/08-no-trace.eml" ] ||
    fail "learn should name 08-no-trace.eml alone as impossible"

wine "$learned/quorvel-host.exe" check examples/good examples/spam >"$work/output" 2>&1 ||
    fail "check with the learned list failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -E '^spam  examples/good/' "$work/output.txt" | cut -c7- >"$work/blocked"
cmp -s "$work/blocked" "$work/impossible" || fail "good mail other than the impossible is blocked"
grep -q '^pass  examples/spam/' "$work/output.txt" && fail "example spam passes the learned list"

wine "$learned/quorvel-host.exe" learn --write examples/good >"$work/output" 2>&1 ||
    fail "the second learn --write failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q '^Nothing to add: ' "$work/output.txt" || fail "the second learn --write added something"
echo "learn --write: the learned list passes the good mail and catches the spam"

# lint names every unhealthy entry of the example list and exits with 1; a
# healthy list gives no warning and 0.
{
    cat "$source/examples/unhealthy-list.txt"
    printf '@\r\n . \r\n%0300d@example.org\r\n' 0
} >"$learned/quorvel.txt"
status=0
wine "$learned/quorvel-host.exe" lint >"$work/output" 2>&1 || status=$?
# Each warning on one line again: the long ones are wrapped for the terminal.
tr -d '\r' <"$work/output" | sed -e ':a' -e 'N' -e '$!ba' -e 's/\n    / /g' >"$work/output.txt"
[ "$status" -eq 1 ] || fail "lint exit status $status on an unhealthy list, expected 1"
for entry in '"ANN.LEE@example.com" is in the list twice' '".com" is a bare ending' \
    '"ab" is shorter than three' '"tom@lee-family.example.net\r" ends in an invisible' \
    '"ann.lee@example.com.au" contains the entry "ann.lee@example.com"' \
    '"@" is shorter than three' '" . " is only blanks or dots' \
    '"0000000000000000000000000000000000000000..." line 11 is 312 characters long'; do
    grep -qF "  $entry" "$work/output.txt" || fail "lint does not say: $entry"
done
wine "$learned/quorvel-host.exe" check examples/good >"$work/output" 2>&1
tr -d '\r' <"$work/output" | sed -n 2p >"$work/output.txt"
grep -q '^Warnings about your list ' "$work/output.txt" || fail "check does not warn first"
wine "$work/quorvel-host.exe" lint >"$work/output" 2>&1 || fail "lint warns about the example list"
echo "lint: every unhealthy entry named"
