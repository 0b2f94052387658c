#!/bin/sh
# Runs a command (a Windows test program under Wine) as a user whom file
# permissions bind, as they bind a user on Windows who is not an administrator.
# CI runs as root, which the kernel lets past any permission; here root gives up
# the capabilities for that, keeping its ownership of the Wine prefix.
#   bound_by_permissions.sh wine program.exe [arguments]
set -eu
[ "$(id -u)" -ne 0 ] && exec "$@"

# The Wine server opens files for its programs, so it must run under the same
# limits: wait until a server left by an earlier test has ended, so that ours
# starts one, and wait for ours to end so that the next test starts afresh.
wineserver -w
status=0
setpriv --bounding-set=-dac_override,-dac_read_search,-fowner "$@" || status=$?
wineserver -w
exit "$status"
