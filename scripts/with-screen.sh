#!/usr/bin/env bash
# Runs a Windows program under Wine on an X display of its own size and colour
# depth, with a Wine server of its own:
#     with-screen.sh [--dpi N] [--windows VERSION] [--primary-right] SCREEN program.exe [arguments...]
# SCREEN is WxHxDEPTH (Xvfb), or monitors side by side, WxH+WxH[+...] (Xorg's
# dummy driver, 24 bits), whose first one is primary, or the last one with
# --primary-right. A Wine server belongs to the display it started with, so the
# program runs in a copy of $WINEPREFIX made once beside it, with that copy's
# own server. --dpi sets the copy's LogPixels, as a user who scales the display
# does; --windows the version Wine reports there (win10), which it reads when a
# process starts. Monitors that cannot be made here (Xorg will not start) end
# the run with 77, not tested, and say so; under CI=true with 1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

dpi= windows= primary=
while [ $# -gt 0 ]; do
    case $1 in
        --dpi) dpi=$2; shift 2 ;;
        --windows) windows=$2; shift 2 ;;
        --primary-right) primary=right; shift ;;
        *) break ;;
    esac
done
geometry=$1
shift
base=${WINEPREFIX:?WINEPREFIX must name the prefix to copy}
export WINEPREFIX="$base-$geometry${primary:+-primary-$primary}${dpi:+-${dpi}dpi}${windows:+-$windows}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # The running server of $base saves its registry through reg*.tmp files
    # that come and go; the .reg files themselves are always whole.
    find "$base" -mindepth 1 -maxdepth 1 ! -name 'reg*.tmp' -exec cp -a {} "$WINEPREFIX/" \;
fi

case $geometry in
    *+*)
        if ! open_monitor_display "$geometry" "$primary"; then
            if [ "${CI:-}" = true ]; then
                echo "with-screen.sh: CI must be able to start Xorg for $geometry" >&2
                exit 1
            fi
            echo "NOT TESTED: with-screen.sh could not start Xorg for the monitors $geometry" >&2
            exit 77
        fi ;;
    *) open_wine_display "$geometry" ;;
esac
own_prefix "$WINEPREFIX"
if [ -n "$dpi" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
fi
if [ -n "$windows" ]; then
    wine reg add 'HKCU\Software\Wine' /v Version /d "$windows" /f >/dev/null 2>&1
    wineserver -w
fi
start_wine_server
wine "$@"
