#!/bin/sh
# Makes a fresh 32-bit Wine prefix for one test run.
set -eu
prefix=$1
rm -rf "$prefix"
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
# Without a window manager Wine waits about 2 s whenever a managed window hides.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
