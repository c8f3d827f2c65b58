#!/usr/bin/env bash
# Prints the builds of Tessmere that this host can run under Wine, the one to
# prefer first: "i686 x86_64" where the kernel runs 32-bit code, "x86_64"
# where it runs 64-bit user code only (some kernels and hypervisors do).
# The probe: start the i386 dynamic loader, which 32-bit Wine needs too;
# such a host refuses it with "Exec format error".
set -euo pipefail
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo i686 x86_64
else
    echo x86_64
fi
