# Sourced by the run, test, bench and screenshot scripts: picks the build of
# Tessmere that this host can run, builds it and prepares Wine for it on a
# virtual X display, in code page 932. Prints one line that names the build
# and why it was picked.

TESSMERE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The i686 build under 32-bit Wine where it runs, the x86_64 build under 64-bit
# Wine elsewhere; TESSMERE_ARCH forces one. The host is probed once: the
# scripts started from here inherit the answer.
export TESSMERE_HOST_ARCHITECTURES=${TESSMERE_HOST_ARCHITECTURES:-$("$TESSMERE_ROOT/scripts/host-architectures.sh")}
export TESSMERE_HOST_WHY=${TESSMERE_HOST_WHY:-$("$TESSMERE_ROOT/scripts/host-architectures.sh" --why)}
if [ -z "${TESSMERE_ARCH:-}" ]; then
    TESSMERE_ARCH=${TESSMERE_HOST_ARCHITECTURES%% *}
    TESSMERE_ARCH_REASON=$TESSMERE_HOST_WHY
fi
case "$TESSMERE_ARCH" in
    i686 | x86_64) ;;
    *) echo "TESSMERE_ARCH must be i686 or x86_64, not $TESSMERE_ARCH" >&2; exit 1 ;;
esac
case " $TESSMERE_HOST_ARCHITECTURES " in
    *" $TESSMERE_ARCH "*) ;;
    *) echo "TESSMERE_ARCH=$TESSMERE_ARCH cannot run here: $TESSMERE_HOST_WHY." >&2
       if [ "$TESSMERE_HOST_WHY" != "this host runs no 32-bit code" ]; then
           echo "Install 32-bit Wine with: sudo dpkg --add-architecture i386 && sudo apt-get update &&" \
               "sudo apt-get install wine32:i386 (apt must load its i386 lists in full); or use TESSMERE_ARCH=x86_64" >&2
       else
           echo "Use TESSMERE_ARCH=x86_64." >&2
       fi
       exit 1 ;;
esac
export TESSMERE_ARCH TESSMERE_ARCH_REASON=${TESSMERE_ARCH_REASON:-"chosen by TESSMERE_ARCH"}
# The two builds never share a build directory, nor so a Wine prefix.
export BUILD_DIR=${BUILD_DIR:-$TESSMERE_ROOT/build/$TESSMERE_ARCH}

if [ "$TESSMERE_ARCH" = i686 ]; then
    export WINEARCH=win32
    echo "Tessmere: the i686 build under 32-bit Wine ($TESSMERE_ARCH_REASON)"
else
    # Debian's wine and wineboot always take the 32-bit loader when it is
    # installed, even where it cannot run: call the 64-bit tools by name.
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
    wine() { "$WINELOADER" "$@"; }
    wineboot() { "$WINELOADER" wineboot.exe "$@"; }
    winepath() { "$WINELOADER" winepath.exe "$@"; }
    wineserver() { "$WINESERVER" "$@"; }
    echo "Tessmere: the x86_64 build under 64-bit Wine ($TESSMERE_ARCH_REASON)"
fi
export WINEDEBUG=${WINEDEBUG:--all}
# Never stop to offer the Mono or Gecko installers on a display nobody watches,
# and keep the shortcuts that the installer test makes out of this machine's
# own application menu.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The locale of the programs started from here. Set-up may have generated it
# only after this shell started, and glibc reads its locales once a process:
# the shell itself, which needs none, would warn that it cannot switch.
use_locale() {
    if ! locale -a 2>/dev/null | grep -qix "${1%.UTF-8}.utf8"; then
        echo "The $1 locale is missing: scripts/setup.sh generates it." >&2
    fi
    { export LANG=$1; unset LC_ALL LC_CTYPE; } 2>/dev/null
}
# The program's users have code page 932; Wine derives it from the locale.
use_locale ja_JP.UTF-8

# Configures the build directory and builds the given targets (all by default).
build_tessmere() {
    local cache=$BUILD_DIR/CMakeCache.txt
    if [ -f "$cache" ] && ! grep -q "toolchain-mingw-$TESSMERE_ARCH.cmake" "$cache"; then
        echo "$BUILD_DIR holds another architecture's build: set BUILD_DIR apart for $TESSMERE_ARCH" >&2
        return 1
    fi
    cmake -S "$TESSMERE_ROOT" -B "$BUILD_DIR" \
        -DCMAKE_TOOLCHAIN_FILE="$TESSMERE_ROOT/cmake/toolchain-mingw-$TESSMERE_ARCH.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    local targets=()
    for target in "$@"; do targets+=(--target "$target"); done
    cmake --build "$BUILD_DIR" -j "$(nproc)" "${targets[@]}"
}

# Starts Xvfb on a free display with the given geometry (WxHxDEPTH) and
# exports DISPLAY and XAUTHORITY; XVFB_PID is the server's process. Xvfb picks
# the display itself (-displayfd), so two runs started at once never share one.
# Without a cookie, any account on this machine could read the screen and type
# into it: the display takes one made for it, in a file only its owner reads.
start_virtual_display() {
    local geometry=${1:-1920x1080x24} number= cookie protocol
    XVFB_AUTH=$(mktemp)
    XVFB_NUMBER_FILE=$(mktemp)
    cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    protocol=$(printf MIT-MAGIC-COOKIE-1 | od -An -tx1 | tr -d ' \n')
    # An entry for every display (family ffff, no address, no number): the
    # server reads it at start, before its number is known.
    echo "ffff 0000 0000 0012 $protocol 0010 $cookie" | xauth -q -f "$XVFB_AUTH" nmerge -
    Xvfb -displayfd 3 -auth "$XVFB_AUTH" -screen 0 "$geometry" -nolisten tcp \
        3>"$XVFB_NUMBER_FILE" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        number=$(cat "$XVFB_NUMBER_FILE")
        [ -n "$number" ] && break
        sleep 0.1
    done
    if [ -z "$number" ]; then
        echo "Xvfb did not start" >&2
        stop_virtual_display
        return 1
    fi
    export DISPLAY=":$number" XAUTHORITY=$XVFB_AUTH
}

# Ends the server and removes its files, also those of a start cut short; so
# for an Xorg of several monitors.
stop_virtual_display() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
    rm -f "${XVFB_AUTH:-}" "${XVFB_NUMBER_FILE:-}"
    XVFB_AUTH= XVFB_NUMBER_FILE=
    stop_monitor_display
}

# The prefix given is the script's own: from now on the script's end also
# ends its Wine server, and no other.
own_prefix() {
    export WINEPREFIX=$1
    OWN_PREFIX=$1
    trap close_wine_display EXIT
}

# Starts Xorg with its dummy video driver on a free display: monitors of the
# sizes given ("1920x1080+1280x1024") side by side, tops aligned, the first
# one primary, or the last one when the second argument is "right". Exports
# DISPLAY and XAUTHORITY, and admits only its own cookie, as
# start_virtual_display does; XORG_PID is the server's process. Xorg needs
# root: a server that cannot start says why and gives 1.
start_monitor_display() {
    local layout=$1 primary=${2:-left} sizes size i x=0 width=0 height=0 number= cookie protocol
    IFS=+ read -ra sizes <<<"$layout"
    XORG_DIR=$(mktemp -d)
    cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    protocol=$(printf MIT-MAGIC-COOKIE-1 | od -An -tx1 | tr -d ' \n')
    echo "ffff 0000 0000 0012 $protocol 0010 $cookie" | xauth -q -f "$XORG_DIR/auth" nmerge - 2>/dev/null
    {
        # No input devices, no GPU and no console of its own: a server for Wine alone.
        printf 'Section "ServerFlags"\n'
        for flag in AutoAddDevices AutoEnableDevices AutoAddGPU; do
            printf '    Option "%s" "false"\n' "$flag"
        done
        printf '    Option "DontVTSwitch" "true"\nEndSection\n'
        printf 'Section "Device"\n    Identifier "dummy"\n    Driver "dummy"\n    VideoRam 256000\n'
        for i in "${!sizes[@]}"; do
            printf '    Option "Monitor-DUMMY%d" "m%d"\n' "$i" "$i"
        done
        printf 'EndSection\n'
        for i in "${!sizes[@]}"; do
            size=${sizes[$i]}
            # An output counts as connected only once a mode is set on it.
            printf 'Section "Monitor"\n    Identifier "m%d"\n    HorizSync 5.0-1000.0\n' "$i"
            printf '    VertRefresh 5.0-200.0\n    Option "PreferredMode" "%s"\n' "$size"
            printf '    Option "Position" "%d 0"\n    Option "Enable" "true"\n' "$x"
            [ "$i" -eq 0 ] && printf '    Option "Primary" "true"\n'
            printf 'EndSection\n'
            x=$((x + ${size%x*}))
            [ "${size#*x}" -gt "$height" ] && height=${size#*x}
        done
        width=$x
        # The screen's own monitor gives the driver the ranges its modes must fit.
        printf 'Section "Screen"\n    Identifier "screen"\n    Device "dummy"\n    Monitor "m0"\n'
        printf '    DefaultDepth 24\n    SubSection "Display"\n        Depth 24\n'
        printf '        Virtual %d %d\n    EndSubSection\nEndSection\n' "$width" "$height"
    } >"$XORG_DIR/xorg.conf"
    Xorg -displayfd 3 -auth "$XORG_DIR/auth" -config "$XORG_DIR/xorg.conf" -logfile "$XORG_DIR/log" \
        -noreset -nolisten tcp -novtswitch -sharevts 3>"$XORG_DIR/number" >"$XORG_DIR/output" 2>&1 &
    XORG_PID=$!
    for _ in $(seq 100); do
        number=$(cat "$XORG_DIR/number")
        [ -n "$number" ] || ! kill -0 "$XORG_PID" 2>/dev/null && break
        sleep 0.1
    done
    if [ -z "$number" ]; then
        echo "Xorg did not start: $(grep -h -m1 -E '\(EE\)|allowed' "$XORG_DIR/output" "$XORG_DIR/log" 2>/dev/null | head -n1)" >&2
        stop_monitor_display
        return 1
    fi
    export DISPLAY=":$number" XAUTHORITY=$XORG_DIR/auth
    if [ "$primary" = right ]; then
        xrandr --output "DUMMY$((${#sizes[@]} - 1))" --primary
    fi
}

stop_monitor_display() {
    if [ -n "${XORG_PID:-}" ]; then
        kill "$XORG_PID" 2>/dev/null || true
        wait "$XORG_PID" 2>/dev/null || true
        XORG_PID=
    fi
    [ -z "${XORG_DIR:-}" ] || rm -rf "$XORG_DIR"
    XORG_DIR=
}

# Creates the Wine prefix given (or $WINEPREFIX) when it does not exist yet and
# maps the dialog's and the shell's Japanese font faces to the IPA fonts.
prepare_prefix() {
    own_prefix "${1:-$WINEPREFIX}"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
    fi
    local key='HKCU\Software\Wine\Fonts\Replacements' face
    for face in "ＭＳ Ｐゴシック" "MS PGothic" "MS UI Gothic"; do
        wine reg add "$key" /v "$face" /d "IPAPGothic" /f >/dev/null 2>&1
    done
    for face in "ＭＳ ゴシック" "MS Gothic"; do
        wine reg add "$key" /v "$face" /d "IPAGothic" /f >/dev/null 2>&1
    done
    wineserver -w
}

# One Wine server for the prefix until the caller ends it: each Wine process
# then starts quickly. Wine's services start with the first process and keep
# its output open; started here, they cannot hold up CTest, which waits for the
# end of a test's output.
start_wine_server() {
    wineserver -p >/dev/null 2>&1 </dev/null
    if [ -f "$BUILD_DIR/tests/probe.exe" ]; then
        wine "$BUILD_DIR/tests/probe.exe" warmup >/dev/null 2>&1 </dev/null
    else
        wine reg query 'HKCU\Control Panel' >/dev/null 2>&1 </dev/null
    fi
}

# The virtual display has no window manager; without this, Wine waits two
# seconds for one whenever a window closes, a message box included.
unmanage_windows() {
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
}

# A virtual display of the geometry given (1920x1080x24 by default), closed
# when the calling script exits, also when a failure or a Ctrl-C cuts the
# start short; so is the Wine server of the script's own prefix once it has
# one. Until then the prefix the shell names is someone else's.
open_wine_display() {
    [ -n "${OWN_PREFIX:-}" ] || trap stop_virtual_display EXIT
    start_virtual_display "${1:-1920x1080x24}"
}

close_wine_display() {
    if [ -n "${OWN_PREFIX:-}" ]; then
        WINEPREFIX=$OWN_PREFIX wineserver -k 2>/dev/null || true
    fi
    stop_virtual_display
}

# The same with the monitors of start_monitor_display, which it is given.
open_monitor_display() {
    [ -n "${OWN_PREFIX:-}" ] || trap stop_virtual_display EXIT
    start_monitor_display "$@"
}

# The prefix given, as the tests, benchmarks and soaks use it: created when
# missing, its fonts mapped, its windows unmanaged and its server running.
ready_test_prefix() {
    export WINEPREFIX=$1
    prepare_prefix
    unmanage_windows
    start_wine_server
}
