#!/usr/bin/env bash
# Runs a Windows program under Wine on an X display of its own size and colour
# depth, with a Wine server of its own:
#     with-screen.sh 1023x767x24 program.exe [arguments...]
# A Wine server belongs to the display it started with, so the program runs in
# a copy of $WINEPREFIX made once beside it, with that copy's own server.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

geometry=$1
shift
base=${WINEPREFIX:?WINEPREFIX must name the prefix to copy}
export WINEPREFIX="$base-$geometry"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    cp -a "$base" "$WINEPREFIX"
fi

start_virtual_display "$geometry"
cleanup() {
    wineserver -k 2>/dev/null || true
    stop_virtual_display
}
trap cleanup EXIT
start_wine_server
wine "$@"
