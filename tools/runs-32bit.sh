#!/usr/bin/env bash
# Exits 0 when 32-bit Wine can run here: this kernel starts 32-bit x86 programs (some virtual
# machines' kernels cannot: "Exec format error") and wine32 is installed. With --kernel, asks
# only the first: a 93-byte i386 program that exits with status 0.
set -u
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null || exit 1
[ "${1:-}" = --kernel ] && exit 0
/usr/lib/wine/wineserver32 --version >/dev/null 2>&1
