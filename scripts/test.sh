#!/usr/bin/env bash
# Sets up what is missing, builds Tessmere with its tests for the Wine this
# host runs (scripts/wine-env.sh says which), and runs the whole suite on a
# virtual display in code page 932, with a throwaway Wine prefix in the build
# directory. Arguments go to ctest (for example: scripts/test.sh -R e2e_tests).
# The benchmarks and soaks are built too, not run: a change that breaks them
# fails here, and so in CI.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
source "$here/wine-env.sh"
build_tessmere all benchmarks

# A build the host cannot run is still built, and checked as a file.
if [ "$TESSMERE_ARCH" = x86_64 ] && [[ " $TESSMERE_HOST_ARCHITECTURES " != *" i686 "* ]]; then
    echo "not run here: the i686 suite, since $TESSMERE_HOST_WHY;" \
        "unit_tests.Executable checks the shipped i686 exe and installer as files"
fi

open_wine_display
ready_test_prefix "$BUILD_DIR/wineprefix"

cd "$BUILD_DIR"
ctest --output-on-failure "$@"
