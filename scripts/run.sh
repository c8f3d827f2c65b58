#!/usr/bin/env bash
# Sets up what is missing, builds Tessmere for the Wine this host runs
# (scripts/wine-env.sh says which) and starts it in code page 932: on the
# current X display, or, when there is none, in a Wine desktop with a taskbar
# on a virtual one. Its icon appears in the notification area; a left click
# opens its menu.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
source "$here/wine-env.sh"
build_tessmere Tessmere

export WINEPREFIX=${TESSMERE_PREFIX:-$BUILD_DIR/wineprefix-run}
# On a bare X display the tray icon would sit alone in a corner and no
# wallpaper would ever be drawn. A display of our own therefore gets a Wine
# desktop with a taskbar, asked for on the command line: a registry setting
# would carry over to later runs on a real display.
desktop=
if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    desktop=1024x768
    open_wine_display "${desktop}x24"
    echo "Tessmere runs in a Wine desktop on the virtual display $DISPLAY. To look at it:"
    echo "  DISPLAY=$DISPLAY import -window root screen.png"
fi
prepare_prefix
# A new prefix has no wallpaper setting at all; an empty one is what a
# desktop without wallpaper has, and spares the first start a report.
if ! wine reg query 'HKCU\Control Panel\Desktop' /v Wallpaper >/dev/null 2>&1; then
    wine reg add 'HKCU\Control Panel\Desktop' /v Wallpaper /d "" /f >/dev/null 2>&1
fi

# The store directory is created beside the executable.
mkdir -p "$BUILD_DIR/run"
cp "$BUILD_DIR/Tessmere.exe" "$BUILD_DIR/run/Tessmere.exe"
echo "Tessmere started from $BUILD_DIR/run; choose 終了 (Exit) in its tray menu to end it."
if [ -n "$desktop" ]; then
    wine explorer "/desktop=Tessmere,$desktop" "$BUILD_DIR/run/Tessmere.exe"
else
    wine "$BUILD_DIR/run/Tessmere.exe"
fi
