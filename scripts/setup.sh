#!/usr/bin/env bash
# Installs what building, running and testing Tessmere needs on Debian or
# Ubuntu: the MinGW-w64 cross compilers for i686 and x86_64, 32-bit and 64-bit
# Wine (a host that runs no 32-bit code gets both too: it still builds the
# i686 release), a virtual X server and a VNC server to look at it from
# elsewhere, the checking tools, GoogleTest's source, the Japanese and English
# locales and the Japanese font, and NSIS and zip for the release.
# Only what is missing is installed, so a second run is quick.
set -euo pipefail

packages=(
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 cmake make
    wine wine32:i386 wine64
    xvfb xauth x11-apps imagemagick xdotool x11vnc
    fonts-ipafont-gothic
    googletest
    locales procps inotify-tools
    nsis zip
    clang
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for package in "${packages[@]}"; do
    is_installed "$package" || missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page and its interface language from the locale:
# ja_JP.UTF-8 gives code page 932 and Japanese, en_US.UTF-8 1252 and English.
generate=
for wanted in ja_JP en_US; do
    if ! locale -a 2>/dev/null | grep -qix "$wanted.utf8"; then
        echo "setup: generating the $wanted.UTF-8 locale"
        as_root sed -i "s/^# *\($wanted.UTF-8 UTF-8\)/\1/" /etc/locale.gen
        grep -q "^$wanted.UTF-8 UTF-8" /etc/locale.gen || echo "$wanted.UTF-8 UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
        generate=yes
    fi
done
if [ -n "$generate" ]; then
    as_root locale-gen >/dev/null
fi
