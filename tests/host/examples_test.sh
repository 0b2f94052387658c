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

# learn on the good mail proposes a whole list; learn --write weighs it against
# the list beside the plug-in and adds, through the plug-in's own save, only
# what that list does not let through. Then check with the list it wrote: every
# mail learn did not name as impossible passes, the example spam is still
# caught, and learning again adds nothing.
learned="$work/learned"
mkdir "$learned"
cp "$host" "$plugin" "$source/examples/quorvel.txt" "$learned/"
wine "$learned/quorvel-host.exe" learn --spam examples/spam examples/good \
    >"$work/output" 2>&1 || fail "learn failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q '^Proposed list, 6 entries:$' "$work/output.txt" || fail "learn did not propose 6 entries"
grep -q '^  tom@lee-family.example.net ' "$work/output.txt" || fail "tom@ was not proposed"
grep -q 'lets 0 through' "$work/output.txt" || fail "the proposal lets example spam through"
grep -q '^  ann.lee@example.com\* ' "$work/output.txt" || fail "ann.lee@example.com is not marked"
grep -q '^\* ann.lee@example.com also lets through 1 other address seen, such as joann.lee@example.com$' \
    "$work/output.txt" || fail "the mark does not name joann.lee@example.com"
wine "$learned/quorvel-host.exe" learn --write --spam examples/spam examples/good \
    >"$work/output" 2>&1 || fail "learn --write failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q '^Your list lets 7 of them through already\.$' "$work/output.txt" ||
    fail "learn --write does not say what the list lets through"
grep -q '^Added 1 entry to ' "$work/output.txt" || fail "learn --write did not add 1 entry"
grep -q '^  ann.lee@old-isp.example.net$' "$work/output.txt" || fail "the old address was not added"
grep -q 'tom@' "$work/output.txt" && fail "tom@ was added, though lee-family.example.net lets it through"
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

# learn --write keeps what the plug-in keeps: a list an editor saved as UTF-16
# stays UTF-16, and the bytes after a Ctrl-Z, which no load reads, go to a backup.
printf 'ann.lee@example.com\r\n\032kept@example.org\r\n' | iconv -f ASCII -t UTF-16 >"$learned/quorvel.txt"
cp "$learned/quorvel.txt" "$work/utf16-before"
wine "$learned/quorvel-host.exe" learn --write examples/good >"$work/output" 2>&1 ||
    fail "learn --write on a UTF-16 list failed"
head -c 2 "$learned/quorvel.txt" | od -An -tx1 | grep -q 'ff fe' || fail "the UTF-16 list lost its mark"
iconv -f UTF-16 -t ASCII "$learned/quorvel.txt" | tr -d '\r' | grep -qx 'tom@lee-family.example.net' ||
    fail "learn --write did not add to the UTF-16 list"
cmp -s "$learned/quorvel.bak" "$work/utf16-before" || fail "the bytes after the Ctrl-Z were not kept in quorvel.bak"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q 'quorvel\.bak keeps it as it was:$' "$work/output.txt" || fail "learn --write does not name the backup"
grep -q '^  the entry after the Ctrl-Z in line 2, "kept@example.org"$' "$work/output.txt" ||
    fail "learn --write does not name the entry it drops"
echo "learn --write: a UTF-16 list stays UTF-16, what no load reads is named and kept in a backup"

# No needless entry: bob@ lets jimbob@'s mail through, a domain entry is marked
# only for addresses it was not folded from, and a listed @example.com makes
# bob@example.com needless for learn --write.
mkdir -p "$work/pair/mail" "$work/pair/plugin"
printf 'To: bob@example.com\r\n\r\n' >"$work/pair/mail/1.eml"
printf 'To: jimbob@example.com\r\n\r\n' >"$work/pair/mail/2.eml"
for who in a b c; do printf 'To: %s@family.example.net\r\n\r\n' $who >"$work/pair/mail/$who.eml"; done
printf 'To: c@family.example.net\r\nFrom: zed@family.example.net\r\n\r\n' >"$work/pair/mail/d.eml"
wine "$learned/quorvel-host.exe" learn --domains "$work/pair/mail" >"$work/output" 2>&1 ||
    fail "learn --domains failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q '^Proposed list, 2 entries:$' "$work/output.txt" || fail "learn --domains proposed a needless entry"
grep -q '^  bob@example.com\*  *2  *2$' "$work/output.txt" || fail "bob@ does not let jimbob@'s mail through"
grep -q '^\* @family.example.net also lets through 1 other address seen, such as zed@family.example.net$' \
    "$work/output.txt" || fail "the domain entry's mark names what it was folded from"
cp "$host" "$plugin" "$work/pair/plugin/"
printf '@example.com\r\n' >"$work/pair/plugin/quorvel.txt"
wine "$work/pair/plugin/quorvel-host.exe" learn --domains --write "$work/pair/mail" >"$work/output" 2>&1 ||
    fail "learn --domains --write failed"
[ "$(tr -d '\r' <"$work/pair/plugin/quorvel.txt")" = "$(printf '@family.example.net\n@example.com')" ] ||
    fail "learn --write added what the list lets through: $(cat "$work/pair/plugin/quorvel.txt")"
echo "learn: no needless entry, marks that tell"

# An address with 8-bit letters is proposed whole: no part of it lets a
# stranger's address through.
mkdir -p "$work/eight/good" "$work/eight/spam"
printf 'To: J\366rg <j\366rg@example.de>\r\n\r\n' >"$work/eight/good/1.eml"
printf 'To: georg@example.de\r\n\r\n' >"$work/eight/spam/1.eml"
(cd "$work/eight" && wine "$learned/quorvel-host.exe" learn --spam spam good) >"$work/output" 2>&1 ||
    fail "learn on 8-bit addresses failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
LC_ALL=C grep -q "^  j$(printf '\366')rg@example.de " "$work/output.txt" || fail "the address was cut"
grep -q 'lets 0 through' "$work/output.txt" || fail "a part of an 8-bit address lets spam through"

# lint names every unhealthy entry of the example list and exits with 1; a
# healthy list gives no warning and 0.
{
    cat "$source/examples/unhealthy-list.txt"
    printf '@\r\n . \r\n%0300d@example.org\r\n' 0
    printf '+0000\r\nzed\000ie@example.org\r\nlast@example.org\032\r\nlost@example.org\r\n'
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
    '"0000000000000000000000000000000000000000..." line 15 is 312 characters long' \
    '"co.uk" is a bare ending' '"+0000" is only digits and signs' \
    '"bob.marsh@example.org " ends in a blank' '"zed" is cut short by a zero byte in line 17' \
    'Line 18 holds a Ctrl-Z character' '"tls" is a word that stands in nearly every' \
    '"(Postfix)" holds "(", which no address holds'; do
    grep -qF "  $entry" "$work/output.txt" || fail "lint does not say: $entry"
done
wine "$learned/quorvel-host.exe" check examples/good >"$work/output" 2>&1
tr -d '\r' <"$work/output" | sed -n 2p >"$work/output.txt"
grep -q '^Warnings about your list ' "$work/output.txt" || fail "check does not warn first"
# A list saved with a UTF-8 byte-order mark reads as written: nothing to warn of.
printf '\357\273\277ann.lee@example.com\r\n' >"$learned/quorvel.txt"
wine "$learned/quorvel-host.exe" lint >"$work/output" 2>&1 || fail "lint warns about a list with a byte-order mark"
wine "$work/quorvel-host.exe" lint >"$work/output" 2>&1 || fail "lint warns about the example list"
echo "lint: every unhealthy entry named"

# A user's own store, made here: names in several scripts, Maildir++ folders, a
# Thunderbird profile, a link that loops, a mail without its empty line, an
# mbox with junk before its first mail, a byte-order mark, an empty file.
cd "$work"
s=store
mkdir -p $s/names $s/maildir/cur $s/maildir/new $s/maildir/tmp $s/maildir/.Sent/cur \
    $s/maildir/.Sent/new $s/maildir/.Archive.2023/cur $s/maildir/.Junk/cur $s/maildir/.Junk/new \
    $s/thunderbird/Inbox.sbd
mail() { printf "$2" >"$s/$1"; }
mail names/café.eml 'To: ann.lee@example.com\n\n'
mail names/Почта.eml 'To: bob@example.com\n\n'
mail names/日本.eml 'Cc: annie@example.org\n\n'
mail 'names/🎉 sale.eml' 'To: deals@shop.example\nSubject: offer\nHello.\nTo: ann.lee@example.com\n'
mail bom.eml '\357\273\277To: annie@example.org\n\n'
mail empty.eml ''
mail export.mbox '\n\nexported by a broken tool\nFrom a Mon Jan  1 10:00:00 2024\nTo: ann.lee@example.com\n\nFrom b Mon Jan  1 10:00:00 2024\nTo: x@example.com\n\n'
mail maildir/cur/1 'To: ann.lee@example.com\n\n'
mail maildir/new/2 'To: x@example.com\n\n'
mail maildir/tmp/3 'To: x@example.com\n\n'
mail maildir/.Sent/cur/4 'To: tom@lee-family.example.net\n\n'
mail maildir/.Junk/cur/7 'From env Mon Jan  1 10:00:00 2024\nTo: junk.victim@spam.example\n\nFrom b\nTo: body.only@spam.example\n'
mail maildir/.Archive.2023/cur/5 'To: x@example.com\n\n'
mail maildir/.Archive.2023/cur/6 'To : ann.lee@example.com\n\n'
mail maildir/.uidvalidity '1\n'
mail thunderbird/Inbox 'From a Mon Jan  1 10:00:00 2024\nTo: annie@example.org\n\nFrom b Mon Jan  1 10:00:00 2024\nTo: y@example.com\n\n'
mail thunderbird/Inbox.msf '// <!-- <mdb:mork:z v="1.4"/> -->\n'
mail thunderbird/Inbox.sbd/Work 'From c Mon Jan  1 10:00:00 2024\nTo: z@example.com\n\n'
mail thunderbird/Inbox.sbd/Work.msf ''
ln -s .. $s/maildir/loop

status=0
wine "$work/quorvel-host.exe" check store >"$work/output" 2>&1 || status=$?
tr -d '\r' <"$work/output" | tail -n +2 >"$work/output.txt"
[ "$status" -eq 0 ] || fail "exit status $status on the store, expected 0"
cat >"$work/expected" <<'END'
pass  store\bom.eml
pass  store\export.mbox [1]
spam  store\export.mbox [2]
quorvel-host: store\export.mbox: 1 line before the first mail left out
spam  store\maildir\.Archive.2023\cur\5
spam  store\maildir\.Junk\cur\7
pass  store\maildir\.Sent\cur\4
pass  store\maildir\cur\1
quorvel-host: store\maildir\loop: a link to a folder already read, left out
spam  store\maildir\new\2
pass  store\names\café.eml
spam  store\names\Почта.eml
pass  store\names\日本.eml
spam  store\names\🎉 sale.eml
pass  store\thunderbird\Inbox [1]
spam  store\thunderbird\Inbox [2]
spam  store\thunderbird\Inbox.sbd\Work [1]
15 mails: 8 spam, 7 passed, 0 unreadable (5 other files left out, 1 link not followed)
END
diff -u "$work/expected" "$work/output.txt" || fail "the store was not read as it is"

# learn reads the same store but its folders of spam and sent mail, which it
# names; a folder named on the command line is read whatever its name.
wine "$work/quorvel-host.exe" learn store >"$work/output" 2>&1 || fail "learn on the store failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
for folder in .Junk .Sent; do
    grep -qF "quorvel-host: store\\maildir\\$folder: by its name a folder of spam, deleted, sent or unsent mail, left out; name it to read it" \
        "$work/output.txt" || fail "learn does not say it left out $folder"
done
grep -qE '^  (junk.victim@spam.example|tom@lee-family.example.net) ' "$work/output.txt" &&
    fail "learn proposes an address from Junk or Sent"
grep -q '^  ann.lee@example.com ' "$work/output.txt" || fail "learn over the store lost the good mail"
wine "$work/quorvel-host.exe" learn store 'store\maildir\.Junk' >"$work/output" 2>&1 ||
    fail "learn on a named Junk folder failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q '^  junk.victim@spam.example ' "$work/output.txt" || fail "a Junk folder named is not read"
grep -q '^  body.only@spam.example ' "$work/output.txt" && fail "a Maildir file was read as an mbox"

# Wildcards, matched without regard to case, a folder among what they match;
# names on the command line in any
# script, which Wine hands over from a UTF-8 locale; an empty file named.
LC_ALL=C.UTF-8 wine "$work/quorvel-host.exe" check 'store\names\*.EML' 'store\names\日本.eml' \
    'store\thunder????' store/empty.eml 'store\*.none' >"$work/output" 2>"$work/errors" || status=$?
tr -d '\r' <"$work/output" | tail -n +2 >"$work/output.txt"
[ "$status" -eq 1 ] || fail "exit status $status with a pattern that matches nothing, expected 1"
cat >"$work/expected" <<'END'
pass  store\names\café.eml
spam  store\names\Почта.eml
pass  store\names\日本.eml
spam  store\names\🎉 sale.eml
pass  store\names\日本.eml
pass  store\thunderbird\Inbox [1]
spam  store\thunderbird\Inbox [2]
spam  store\thunderbird\Inbox.sbd\Work [1]
8 mails: 4 spam, 4 passed, 1 unreadable (3 other files left out)
END
diff -u "$work/expected" "$work/output.txt" || fail "wildcards or names on the command line"
tr -d '\r' <"$work/errors" >"$work/errors.txt"
printf '%s\n' 'quorvel-host: store/empty.eml: empty, no mail' \
    'quorvel-host: store\*.none: no such file or folder' | diff -u - "$work/errors.txt" ||
    fail "an empty file or an unmatched pattern not said"
echo "store: every folder once, any name, wildcards"

# On a console the names show in their own characters: run on a terminal that
# script(1) provides, Wine's console draws them in UTF-8 (its cursor moves cut out).
LC_ALL=C.UTF-8 script -qec "wine '$work/quorvel-host.exe' check store/names" /dev/null \
    >"$work/output" 2>&1 || fail "check on a console failed"
sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/output" | tr -d '\r' >"$work/output.txt"
for name in 'café.eml' 'Почта.eml' '日本.eml'; do
    grep -q "^\(pass\|spam\)  store/names/$name\$" "$work/output.txt" ||
        fail "$name not shown on the console as it is named"
done
echo "console: names shown in their own characters"

# A plug-in folder whose name is not ASCII: lint and check read the list that
# the plug-in reads, and name it as it is spelt.
mkdir plugé
cp "$plugin" plugé/
printf 'ann.lee@example.com\r\n.com\r\n' >plugé/quorvel.txt
status=0
LC_ALL=C.UTF-8 wine "$work/quorvel-host.exe" lint --plugin plugé >"$work/output" 2>&1 || status=$?
tr -d '\r' <"$work/output" >"$work/output.txt"
[ "$status" -eq 1 ] || fail "lint exit status $status on a list in plugé, expected 1"
grep -q '^Warnings about your list .*\\plugé\\quorvel.txt:$' "$work/output.txt" ||
    fail "lint did not find the list in plugé"
grep -qF '  ".com" is a bare ending' "$work/output.txt" || fail "lint did not read the list in plugé"
LC_ALL=C.UTF-8 wine "$work/quorvel-host.exe" check --plugin plugé store/names >"$work/output" 2>&1 ||
    fail "check with the plug-in in plugé failed"
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q '^Plug-in: Quorvel (.*\\plugé\\quorvel.dll)$' "$work/output.txt" ||
    fail "the plug-in's path is not shown as it is spelt"
grep -qF '  ".com" is a bare ending' "$work/output.txt" || fail "check skipped the list warnings"
grep -q '^pass  store/names/café.eml$' "$work/output.txt" || fail "check did not read the list in plugé"
echo "plug-in folder: a name outside ASCII read and shown as it is"
