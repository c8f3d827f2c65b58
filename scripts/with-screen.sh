#!/usr/bin/env bash
# Runs a Windows program under Wine on an X display of its own size and colour
# depth, with a Wine server of its own:
#     with-screen.sh [--dpi N] 1023x767x24 program.exe [arguments...]
# A Wine server belongs to the display it started with, so the program runs in
# a copy of $WINEPREFIX made once beside it, with that copy's own server.
# --dpi sets the copy's LogPixels, as a user who scales the display does.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

dpi=
if [ "${1:-}" = --dpi ]; then
    dpi=$2
    shift 2
fi
geometry=$1
shift
base=${WINEPREFIX:?WINEPREFIX must name the prefix to copy}
export WINEPREFIX="$base-$geometry${dpi:+-${dpi}dpi}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # The running server of $base saves its registry through reg*.tmp files
    # that come and go; the .reg files themselves are always whole.
    find "$base" -mindepth 1 -maxdepth 1 ! -name 'reg*.tmp' -exec cp -a {} "$WINEPREFIX/" \;
fi

open_wine_display "$geometry"
own_prefix "$WINEPREFIX"
if [ -n "$dpi" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
fi
start_wine_server
wine "$@"
