#!/usr/bin/env bash
# Sets up what is missing, builds Tessmere and its soaks for the Wine this host
# runs (scripts/wine-env.sh says which), and runs them on a virtual display,
# with a throwaway Wine prefix in the build directory: two thousand captures in process (GDI handles, memory, the Wine
# server's descriptors), then the running program driven through more than two
# thousand changes of every kind and ended through its tray menu. Fails when
# something kept growing beyond its tolerance, the user's wallpaper was not put
# back or a stored file was lost.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
source "$here/wine-env.sh"
build_tessmere Tessmere probe capture_soak program_soak

open_wine_display
ready_test_prefix "$BUILD_DIR/wineprefix-soak"

status=0
wine "$BUILD_DIR/bench/capture_soak.exe" || status=1
echo
wine "$BUILD_DIR/bench/program_soak.exe" || status=1
exit $status
