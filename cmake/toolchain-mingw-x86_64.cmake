# Cross-compiles for 64-bit Windows with MinGW-w64, run under 64-bit Wine.
# Debian's /usr/bin/wine always takes the 32-bit loader when it is installed,
# even on a host that cannot run it: the 64-bit loader is called by its name.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
