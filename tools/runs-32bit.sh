#!/usr/bin/env bash
# Exits 0 when this machine's kernel runs 32-bit x86 programs, as 32-bit Wine needs. Some
# virtual machines' kernels cannot: starting one fails with "Exec format error".
exec /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
