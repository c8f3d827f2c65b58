#!/usr/bin/env bash
# Builds the program a second time with clang, for 32-bit and for 64-bit
# Windows, against the same MinGW-w64 headers and libraries, with every
# warning an error:
#     clang-check.sh [OUTPUT_DIR]
# A second compiler warns where the first is silent. Each result must link and,
# like the real build, import only Windows' own DLLs and msvcrt.dll.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/clang}

command -v clang++ >/dev/null || { echo "clang++ is missing: run scripts/setup.sh" >&2; exit 1; }

build_for() {
    local target=$1 gxx=$1-g++-posix dir=$out/$1
    local includes=() objects=() directory source object libraries imports unexpected
    mkdir -p "$dir"
    sed "s/@MANIFEST_ARCHITECTURE@/$2/" "$root/res/tessmere.manifest.in" >"$dir/tessmere.manifest"
    # clang would look in the host's /usr/include too, and misses the C++ headers
    # of Debian's MinGW g++: search exactly where that g++ searches, less its own
    # compiler headers, which clang brings itself.
    while read -r directory; do
        directory=$(realpath "$directory")
        case "$directory" in
            /usr/lib/gcc/*/include | /usr/lib/gcc/*/include-fixed) ;;
            *) includes+=(-isystem "$directory") ;;
        esac
    done < <(echo | "$gxx" -x c++ -E -v - 2>&1 | sed -n '/^#include <...> search starts here:/,/^End of search list/{//!p}')
    libraries=$(dirname "$("$gxx" -print-libgcc-file-name)")

    local flags=(--target=$target -std=c++17 -O2 -Wall -Wextra -Werror -nostdlibinc "${includes[@]}"
                 -I "$root/src" -I "$root/res")
    for source in "$root"/src/*.cpp; do
        object="$dir/$(basename "${source%.cpp}").o"
        clang++ "${flags[@]}" -c "$source" -o "$object"
        objects+=("$object")
    done

    "$target-windres" -I "$root/res" -I "$dir" "$root/res/tessmere.rc" -O coff -o "$dir/tessmere.res"
    clang++ --target=$target -static -mwindows -L "$libraries" -o "$dir/Tessmere.exe" \
        "${objects[@]}" "$dir/tessmere.res" -lshell32 -lcomctl32 -ladvapi32 -lgdi32 -luser32 -lkernel32

    imports=$("$target-objdump" -p "$dir/Tessmere.exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort)
    unexpected=$(echo "$imports" | grep -vxE 'kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|comctl32.dll|msvcrt.dll' || true)
    if [ -n "$unexpected" ]; then
        echo "the clang build for $target imports $unexpected" >&2
        exit 1
    fi
    echo "clang $(clang++ --version | sed -n '1s/.*version \([^ ]*\).*/\1/p'): ${#objects[@]} units compiled for $target without a warning; Tessmere.exe linked, importing" $imports
}

build_for i686-w64-mingw32 x86
build_for x86_64-w64-mingw32 amd64
