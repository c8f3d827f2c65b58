#!/usr/bin/env bash
# Sets up what is missing and builds the release from a clean build directory:
#     package.sh [DIST_DIR]        (dist/ by default)
# writes Tessmere-<version>-win32.zip (Tessmere.exe and README.txt),
# Tessmere-<version>-setup.exe (the per-user installer) and SHA256SUMS.
# The same commit gives the same bytes in any folder at any time: the exe has
# no time stamp, the installer keeps no file times, and the zip's times are
# SOURCE_DATE_EPOCH, the last commit's time unless it is set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=${1:-$root/dist}
build=$root/build-package
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

rm -rf "$build"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTESSMERE_TESTS=OFF >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
cmake --build "$build" -j "$(nproc)" --target TessmereRelease >/dev/null
sign "$build/release/Tessmere.exe"
cmake --build "$build" --target installer >/dev/null
setup=$build/release/Tessmere-$version-setup.exe
sign "$setup"

# The zip: fixed file times (in UTC: zip stores local times), fixed modes, a
# fixed order, and no extra fields with owners or times.
stage=$build/zip
mkdir -p "$stage"
cp "$build/release/Tessmere.exe" "$stage/"
# Notepad on every Windows reads a UTF-8 file with a byte order mark and CRLF.
{ printf '\357\273\277'; sed 's/$/\r/' "$root/package/README.txt"; } >"$stage/README.txt"
chmod 644 "$stage"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*
zip_name=Tessmere-$version-win32.zip
(cd "$stage" && TZ=UTC zip -q -X -D "$build/$zip_name" Tessmere.exe README.txt)

mkdir -p "$dist"
cp "$build/$zip_name" "$setup" "$dist/"
(cd "$dist" && sha256sum "$zip_name" "$(basename "$setup")" >SHA256SUMS)
echo "package: $dist"
(cd "$dist" && cat SHA256SUMS)
