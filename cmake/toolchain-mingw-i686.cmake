# Cross-compiles for 32-bit Windows with MinGW-w64, run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
set(WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
