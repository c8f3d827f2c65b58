#!/usr/bin/env bash
# Sets up what is missing and builds the release from clean build directories:
#     package.sh [DIST_DIR]        (dist/ by default)
# writes, for 32-bit (win32, the i686 build) and 64-bit Windows (win64, the
# x86_64 build), Tessmere-<version>-<platform>.zip (Tessmere.exe and
# README.txt) and Tessmere-<version>-<platform>-setup.exe (the per-user
# installer), and SHA256SUMS over all four, and nothing else: whoever uploads
# DIST_DIR/* publishes all it holds. Nothing here runs Wine.
# The same commit gives the same bytes in any folder at any time: the exes
# have no time stamp, the installers keep no file times, and the zips' times
# are SOURCE_DATE_EPOCH, the last commit's time unless it is set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# A link to a folder is followed once, here: find would not enter it.
dist=$(realpath -m "${1:-$root/dist}")
# What an earlier run left in dist goes, and only once this run has built
# everything; a folder that holds anything else is refused before the build.
releases=(\( -name 'Tessmere-*.zip' -o -name 'Tessmere-*-setup.exe' -o -name SHA256SUMS \))
if [ -d "$dist" ] && [ -n "$(find "$dist" -mindepth 1 -maxdepth 1 ! "${releases[@]}")" ]; then
    echo "package: $dist holds more than releases; name an empty or a new folder" >&2
    exit 1
fi
"$root/scripts/setup.sh"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) ||
        { echo "package: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

# Code signing goes here once there is a certificate, for example with
# osslsigncode (Debian's package of that name):
#     osslsigncode sign -pkcs12 KEY.p12 -readpass PASSFILE -n Tessmere -t TIMESTAMP_SERVER \
#         -in "$1" -out "$1.signed" && mv "$1.signed" "$1"
# It is called on Tessmere.exe before the zip and the installer take it, and
# on the installer last; the uninstaller, which the installer writes, would be
# signed through makensis's !uninstfinalize in package/tessmere.nsi. A
# signature holds its own time: compare signed builds with their signatures
# removed (osslsigncode remove-signature).
sign() {
    :
}

# Builds one architecture into build-package/ARCH and leaves its zip and
# installer in stage_dist.
package() {
    local arch=$1 platform=$2 build=$root/build-package/$1
    rm -rf "$build"
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTESSMERE_TESTS=OFF >/dev/null
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
    cmake --build "$build" -j "$(nproc)" --target TessmereRelease >/dev/null
    sign "$build/release/Tessmere.exe"
    cmake --build "$build" --target installer >/dev/null
    local setup=$build/release/Tessmere-$version-$platform-setup.exe
    sign "$setup"

    # The zip: fixed file times (in UTC: zip stores local times), fixed modes,
    # a fixed order, and no extra fields with owners or times.
    local stage=$build/zip zip_name=Tessmere-$version-$platform.zip
    mkdir -p "$stage"
    cp "$build/release/Tessmere.exe" "$stage/"
    # Notepad on every Windows reads a UTF-8 file with a byte order mark and CRLF.
    { printf '\357\273\277'; sed 's/$/\r/' "$root/package/README.txt"; } >"$stage/README.txt"
    chmod 644 "$stage"/*
    touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
    (cd "$stage" && TZ=UTC zip -q -X -D "$build/$zip_name" Tessmere.exe README.txt)
    cp "$build/$zip_name" "$setup" "$stage_dist/"
    downloads+=("$zip_name" "$(basename "$setup")")
}

stage_dist=$root/build-package/dist
rm -rf "$stage_dist"
mkdir -p "$stage_dist"
downloads=()
package i686 win32
package x86_64 win64
(cd "$stage_dist" && sha256sum "${downloads[@]}" >SHA256SUMS)
mkdir -p "$dist"
find "$dist" -mindepth 1 -maxdepth 1 "${releases[@]}" -delete
mv "$stage_dist"/* "$dist/"
rmdir "$stage_dist"
echo "package: $dist"
(cd "$dist" && cat SHA256SUMS)
