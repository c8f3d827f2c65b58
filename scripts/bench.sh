#!/usr/bin/env bash
# Sets up what is missing, builds Tessmere and its benchmarks, and prints what
# a wallpaper change costs and what the program costs between changes: desktop
# captures at 1920x1080, at 1023x767 and over two monitors side by side
# (1920x1080+1280x1024, spanned as from Windows 8 on; where Xorg cannot start
# this says so and goes on) beside the screen copy alone, the file
# write alone and xwd, the peak memory of a capture, and the running program's
# CPU time over an idle minute. Runs under the Wine this host runs
# (scripts/wine-env.sh says which; TESSMERE_ARCH picks the other build where
# the host runs both) on virtual displays, with a throwaway Wine prefix in the
# build directory. Prints figures, checks nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
source "$here/wine-env.sh"
build_tessmere Tessmere probe capture_bench idle_bench tick_bench

open_wine_display
ready_test_prefix "$BUILD_DIR/wineprefix-bench"

# Other work on the machine shows in the figures: say how busy it was.
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "Tessmere benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(wine --version), $(nproc) cores"
echo "load average before: $(load)"
echo
wine "$BUILD_DIR/bench/capture_bench.exe"
echo
"$here/with-screen.sh" 1023x767x24 "$BUILD_DIR/bench/capture_bench.exe"
echo
"$here/with-screen.sh" --windows win10 1920x1080+1280x1024 "$BUILD_DIR/bench/capture_bench.exe" || [ $? -eq 77 ]
echo
wine "$BUILD_DIR/bench/idle_bench.exe"
echo
# What the running program writes and sets over ticks that show nothing new.
wine "$BUILD_DIR/bench/tick_bench.exe"
echo
echo "load average after: $(load)"
