#!/bin/sh
# check and learn over an mbox larger than 2 GiB, made here and removed after:
# every mail is read, the peak memory of the Wine process stays far below the
# file's size, and the rate is printed.
# Usage: big_mbox_test.sh HOST_EXE PLUGIN_DLL [MIB]
set -eu
host=$1 plugin=$2 mib=${3:-2100}

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-big.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$host" "$plugin" "$work/"
printf 'ann.lee@example.com\r\n' >"$work/quorvel.txt"

fail() {
    echo "FAIL: $1"
    echo "--- output:"
    tail -n 20 "$work/output"
    exit 1
}

# About one MiB of mails of three kinds (good, spam, no recipient headers),
# written again and again; prints how many of each kind it wrote.
python3 - "$work/big.mbox" "$mib" >"$work/counts" <<'PY'
import sys
good = ("From ann Mon Jan  1 10:00:00 2024\nReceived: from a.example.org by mx.example.com"
        " with ESMTP id 1A for <ann.lee@example.com>; Mon, 1 Jan 2024 10:00:00 +0000\n"
        "From: Bob <bob@example.org>\nTo: Ann <ann.lee@example.com>\nSubject: hello\n\n"
        + "A line of the body that is long enough to look like a real one.\n" * 12
        + ">From a quoted line\n\n")
spam = ("From x Mon Jan  1 10:00:00 2024\nFrom: Shop <deals@shop.example.com>\n"
        "To: deals@shop.example.com\nSubject: sale\n\n" + "Buy now.\n" * 30 + "\n")
bare = "From y Mon Jan  1 10:00:00 2024\nSubject: a draft\n\nNo recipients yet.\n\n"
block = (good + spam + bare).encode()
chunk = block * ((1024 * 1024) // len(block))
with open(sys.argv[1], "wb") as out:
    for _ in range(int(sys.argv[2])):
        out.write(chunk)
print((1024 * 1024) // len(block) * int(sys.argv[2]))
PY
groups=$(cat "$work/counts")
size=$(stat -c %s "$work/big.mbox")
[ "$mib" -lt 2048 ] || [ "$size" -gt 2147483648 ] || fail "the mbox is only $size bytes"

# Runs the host under /usr/bin/time; leaves the peak resident set in KiB in
# $peak and the seconds in $seconds.
run() {
    (cd "$work" && /usr/bin/time -f '%M %e' -o "$work/time" wine "$work/quorvel-host.exe" "$@" \
        >"$work/output" 2>"$work/errors") || fail "quorvel-host $1 failed"
    read -r peak seconds <"$work/time"
    echo "$1: $((size / 1048576)) MiB in $seconds s, $(echo "$size $seconds" |
        awk '{ printf "%.0f", $1 / 1e6 / $2 }') MB/s, $(echo "$groups $seconds" |
        awk '{ printf "%.0f", 3 * $1 / $2 }') mails/s, peak memory $((peak / 1024)) MiB"
    # Far below the file: a reader that kept the file, or even one mail per
    # mail read, would not fit.
    [ "$peak" -lt 262144 ] || fail "$1 took $((peak / 1024)) MiB"
}

run check big.mbox
tr -d '\r' <"$work/output" | tail -n 1 >"$work/summary"
expected="$((3 * groups)) mails: $groups spam, $((2 * groups)) passed, 0 unreadable"
[ "$(cat "$work/summary")" = "$expected" ] || fail "check said $(cat "$work/summary"), expected $expected"
[ "$(tr -d '\r' <"$work/output" | grep -c '^pass  big.mbox \[')" -eq $((2 * groups)) ] ||
    fail "not every mail has its verdict line"

run learn big.mbox
tr -d '\r' <"$work/output" >"$work/output.txt"
grep -q "^$((3 * groups)) good mails read\.$" "$work/output.txt" || fail "learn did not read every mail"
grep -Eq "^  ann.lee@example.com +$groups +$groups$" "$work/output.txt" ||
    fail "learn's proposal does not let the $groups mails to ann.lee@example.com through"
grep -Eq "^  deals@shop.example.com +$groups +$groups$" "$work/output.txt" ||
    fail "learn's proposal does not let the $groups mails to deals@ through"
grep -q "^$groups mails without a To, Cc" "$work/output.txt" || fail "the mails without recipients"
