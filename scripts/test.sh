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

open_wine_display
ready_test_prefix "$BUILD_DIR/wineprefix"

cd "$BUILD_DIR"
ctest --output-on-failure "$@"
