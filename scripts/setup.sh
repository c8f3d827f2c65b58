#!/usr/bin/env bash
# Installs what building, running and testing Tessmere needs on Debian or
# Ubuntu: the MinGW-w64 cross compilers for i686 and x86_64, 64-bit Wine, a
# virtual X server and a VNC server to look at it from elsewhere, an X server
# of several monitors (Xorg's dummy driver) with xrandr, the checking
# tools, GoogleTest's source, the Japanese and English locales and the
# Japanese font, and NSIS and zip for the release; then 32-bit Wine, which
# only the i686 build's runs need. Only what is missing is installed, so a
# second run is quick.
# A package list that fails to download (a mirror in sync) is a warning, and
# 32-bit Wine that cannot be installed leaves the x86_64 build to run, and is
# tried again only once apt's lists have changed: setup stops only when
# something else cannot be installed.
set -euo pipefail

packages=(
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 cmake make
    wine wine64
    xvfb xauth x11-apps imagemagick xdotool x11vnc
    xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
    fonts-ipafont-gothic
    googletest
    locales procps inotify-tools
    nsis zip
    clang
)
# 32-bit Wine, and the i386 libraries through which it sees several monitors
# (without them a 32-bit program sees one monitor over the whole X screen).
wine32=(wine32:i386 libxrandr2:i386 libxinerama1:i386 libxrender1:i386)
# A refused 32-bit step is remembered outside the clone (CI starts from a
# fresh one) for as long as apt's lists are those it was refused with: a
# retry would repeat the same refusal, and the list download before it.
refusal=${XDG_STATE_HOME:-$HOME/.local/state}/tessmere/wine32-refused

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# apt retries a download that fails, and never removes one of the host's
# packages to make room for one of ours (nor downgrades one: it never does
# unasked).
apt_get() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3 "$@"
}

# apt's own explanation, in one line: its first error, else its first line.
apt_reason() {
    local reason
    reason=$(grep -m1 '^E: ' <<<"$1" | cut -c4-) || reason=$(head -n1 <<<"$1")
    echo "$reason"
}

update_package_lists() {
    local output
    if ! output=$(apt_get update -qq 2>&1); then
        echo "setup: some package lists could not be downloaded (apt: $(apt_reason "$output")); going on with the lists there are"
    fi
}

# Installs the packages given in one step, or names the ones apt cannot
# install, shows what apt said and stops.
install_all() {
    local output package refused=()
    echo "setup: installing $*"
    if output=$(apt_get install -y -q --no-install-recommends --no-remove "$@" 2>&1); then
        return 0
    fi
    for package in "$@"; do
        apt_get install -s -qq --no-install-recommends --no-remove "$package" >/dev/null 2>&1 ||
            refused+=("$package")
    done
    echo "setup: cannot install ${refused[*]:-$*}; apt said:" >&2
    echo "$output" >&2
    exit 1
}

# The newest of apt's lists, with the 32-bit step it was refused for.
lists_stamp() {
    local newest
    newest=$(find /var/lib/apt/lists -maxdepth 1 -type f ! -name lock -printf '%T@\n' 2>/dev/null |
        sort -n | tail -n 1)
    echo "${newest:-none} ${wine32[*]}"
}

missing=()
for package in "${packages[@]}"; do
    is_installed "$package" || missing+=("$package")
done
missing32=()
for package in "${wine32[@]}"; do
    is_installed "$package" || missing32+=("$package")
done
if [ "${#missing32[@]}" -gt 0 ] && [ "$(cat "$refusal" 2>/dev/null)" = "$(lists_stamp)" ]; then
    echo "setup: 32-bit Wine was refused with these package lists; it is tried again once they change"
    missing32=()
fi

if [ "${#missing[@]}" -gt 0 ] || [ "${#missing32[@]}" -gt 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    update_package_lists
fi
if [ "${#missing[@]}" -gt 0 ]; then
    install_all "${missing[@]}"
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

# Its i386 libraries must match their amd64 twins exactly, so a stale or
# missing i386 list makes apt refuse it: the x86_64 build then runs instead
# (scripts/host-architectures.sh sees that 32-bit Wine is missing).
if [ "${#missing32[@]}" -gt 0 ]; then
    echo "setup: installing ${missing32[*]}"
    if output=$(apt_get install -y -qq --no-install-recommends --no-remove "${missing32[@]}" 2>&1); then
        rm -f "$refusal"
    else
        echo "setup: 32-bit Wine could not be installed (apt: $(apt_reason "$output")); the x86_64 build runs instead."
        mkdir -p "$(dirname "$refusal")"
        lists_stamp >"$refusal"
    fi
fi
