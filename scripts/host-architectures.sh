#!/usr/bin/env bash
# Prints the builds of Tessmere that this host can run under Wine, the one to
# prefer first: "i686 x86_64" where 32-bit Wine is installed and its loader
# starts, "x86_64" elsewhere. With --why, prints why instead, in a few words.
# A kernel that runs 32-bit code is not enough: where apt's i386 lists were
# stale, scripts/setup.sh could not install 32-bit Wine; and some kernels and
# hypervisors run 64-bit user code only, where the loader fails with "Exec
# format error".
set -euo pipefail
loader=/usr/lib/wine/wine
if "$loader" --version >/dev/null 2>&1; then
    architectures="i686 x86_64" why="32-bit Wine runs on this host"
elif ! /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ -e "$loader" ]; then
    architectures=x86_64 why="this host runs no 32-bit code"
elif [ -e "$loader" ]; then
    architectures=x86_64 why="32-bit Wine does not start: $loader --version fails"
else
    architectures=x86_64 why="32-bit Wine is not installed"
fi
if [ "${1:-}" = --why ]; then
    echo "$why"
else
    echo "$architectures"
fi
