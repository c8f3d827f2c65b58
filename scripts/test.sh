#!/usr/bin/env bash
# Sets up what is missing, builds Tessmere with its tests, and runs the whole
# suite under 32-bit Wine on a virtual display in code page 932, with a
# throwaway Wine prefix in the build directory. Arguments go to ctest
# (for example: scripts/test.sh -R e2e_tests).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
source "$here/wine-env.sh"
build_tessmere

export WINEPREFIX="$BUILD_DIR/wineprefix"
start_virtual_display 1920x1080x24
cleanup() {
    wineserver -k 2>/dev/null || true
    stop_virtual_display
}
trap cleanup EXIT
prepare_prefix
unmanage_windows
start_wine_server

cd "$BUILD_DIR"
ctest --output-on-failure "$@"
