#!/usr/bin/env bash
# Sets up what is missing, builds Tessmere for the Wine this host runs
# (scripts/wine-env.sh says which) and starts it in the caller's language:
# Japanese, in code page 932, under a Japanese locale, English otherwise. It
# runs on the current X display or, when there is none, in a Wine desktop
# with a taskbar on a virtual display that x11vnc serves to this machine
# alone. Its icon appears in the notification area; a left click opens its
# menu. Ctrl-C ends it through its own Exit, which puts the wallpaper back.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# wine-env.sh sets the tests' code page 932; a person gets their own language.
case "${LC_ALL:-${LANG:-}}" in
    ja_JP* | ja.* | ja) language=ja_JP.UTF-8 capture=撮影 exit=終了 ;;
    *) language=en_US.UTF-8 capture=Capture exit=Exit ;;
esac
"$here/setup.sh"
source "$here/wine-env.sh"
use_locale "$language"
build_tessmere Tessmere AskExit

# A terminal's Ctrl-C goes to its whole foreground process group, and would
# end Wine and Xvfb without Tessmere's Exit. With job control, each process
# started from here has a group of its own: the Ctrl-C reaches this script
# alone, which then asks Tessmere to exit.
set -m

export WINEPREFIX=${TESSMERE_PREFIX:-$BUILD_DIR/wineprefix-run}
# On a bare X display the tray icon would sit alone in a corner and no
# wallpaper would ever be drawn. A display of our own therefore gets a Wine
# desktop with a taskbar, asked for on the command line: a registry setting
# would carry over to later runs on a real display.
desktop=
if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    desktop=1024x768
    open_wine_display "${desktop}x24"
fi
prepare_prefix
# A new prefix has no wallpaper setting at all; an empty one is what a
# desktop without wallpaper has, and spares the first start a report.
if ! wine reg query 'HKCU\Control Panel\Desktop' /v Wallpaper >/dev/null 2>&1; then
    wine reg add 'HKCU\Control Panel\Desktop' /v Wallpaper /d "" /f >/dev/null 2>&1
fi

# Serves the virtual display to this machine alone, with a password made for
# this run; another machine sees it through an ssh tunnel. The port is the one
# this x11vnc prints into a log of its own, once it listens.
serve_display() {
    local secret password port=
    secret=$(mktemp)
    vnc_log=$(mktemp)
    password=$(head -c 6 /dev/urandom | base64 | tr '+/' '-_')
    echo "$password" >"$secret"
    x11vnc -display "$DISPLAY" -localhost -noipv6 -forever -shared -passwdfile "rm:$secret" \
        </dev/null >"$vnc_log" 2>&1 &
    vnc=$!
    for _ in $(seq 100); do
        port=$(sed -n 's/^PORT=//p' "$vnc_log")
        [ -n "$port" ] || ! kill -0 "$vnc" 2>/dev/null && break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        rm -f "$secret"
        echo "x11vnc did not start:" >&2
        cat "$vnc_log" >&2
        return 1
    fi
    echo "VNC on 127.0.0.1:$port only, password $password; from another machine:"
    echo "  ssh -f -N -L $port:127.0.0.1:$port $(id -un)@$(hostname) && vncviewer localhost::$port"
}

# Asks Tessmere to exit through its own Exit command and gives it 15 seconds;
# close_run then ends whatever is left. The Ctrl-C may also have ended a
# program that read this script's output, such as tee: writing to it must
# not end the script.
end_tessmere() {
    trap '' INT TERM HUP PIPE
    echo "Asking Tessmere to exit..." 2>/dev/null || true
    if ! wine "$BUILD_DIR/AskExit.exe" ${desktop:+Tessmere} </dev/null; then
        echo "Tessmere did not exit within 15 seconds; ending it." >&2 || true
    fi
}

# Whatever ends the run closes what it opened: x11vnc and its log, the Wine
# processes of the run's prefix, and the display.
close_run() {
    if [ -n "${vnc:-}" ]; then
        kill "$vnc" 2>/dev/null || true
        wait "$vnc" 2>/dev/null || true
    fi
    rm -f "${vnc_log:-}"
    close_wine_display
}
trap close_run EXIT

# The store directory is created beside the executable.
mkdir -p "$BUILD_DIR/run"
cp "$BUILD_DIR/Tessmere.exe" "$BUILD_DIR/run/Tessmere.exe"
if [ -n "$desktop" ]; then
    wine explorer "/desktop=Tessmere,$desktop" "$BUILD_DIR/run/Tessmere.exe" </dev/null &
else
    wine "$BUILD_DIR/run/Tessmere.exe" </dev/null &
fi
tessmere=$!
trap end_tessmere INT TERM HUP
if [ -n "$desktop" ]; then
    echo "Tessmere runs in a Wine desktop on the virtual display $DISPLAY."
    serve_display
fi
echo "Tessmere started from $BUILD_DIR/run. In its tray menu, $capture shows a change at once;"
echo "$exit, or Ctrl-C here, ends it."
wait "$tessmere" || true
