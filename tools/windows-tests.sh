#!/usr/bin/env bash
# Builds and runs the Windows suites. The shipped 32-bit build runs under 32-bit Wine where this
# machine can: its kernel starts 32-bit programs and wine32 could be installed. Elsewhere the
# same suites run on a 64-bit build under wine64, and the 32-bit programs we ship are only built
# (with warnings as errors). The choice, and the deflate of the build's PNG files, are said in one
# line, kept in build/windows-suites for the summary of `make test`.
#
# One wineserver serves the whole run in the suites' prefix, so that no test program meets a
# server that is going away between two others (Debian's wrapper otherwise ends it as soon as its
# last client exits).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
mkdir -p "$here/build"

# --which only says which build the suites run on; --win64 takes the 64-bit one in any case.
mode=${1:-}
if [ "$mode" != --win64 ] && "$here/tools/runs-32bit.sh"; then
  preset=win32
  say="Windows suites: the 32-bit build under 32-bit Wine"
else
  preset=win64
  if [ "$mode" = --win64 ]; then why="as asked"
  elif "$here/tools/runs-32bit.sh" --kernel; then why="wine32:i386 is not installed"
  else why="this kernel does not start 32-bit programs"; fi
  say="Windows suites: the 64-bit build under wine64 ($why)"
  export TAVIMORE_WINE=/usr/lib/wine/wine64 TAVIMORE_WINEARCH=win64
  export TAVIMORE_WINEPREFIX=$here/build/wineprefix64
fi
if [ "$mode" = --which ]; then echo "$say"; exit 0; fi
if [ "$preset" = win64 ] && [ "$mode" != --win64 ]; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target tavimore-release -j "$jobs"
fi
cmake --preset "$preset" >/dev/null
# A build that fell back to zlib (libdeflate's source package could not be had) says so here too.
echo "$say, PNG checksums from $(cat "$here/build/$preset/png-checksums")" | tee "$here/build/windows-suites"
cmake --build --preset "$preset" -j "$jobs"

export WINEPREFIX=${TAVIMORE_WINEPREFIX:-$here/build/wineprefix}
export WINEARCH=${TAVIMORE_WINEARCH:-win32}
"$here/tools/wine-prefix.sh" >/dev/null
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
# The prefix's own services start now, apart from any test: started by a test program, they would
# keep its output's pipe open as long as the server lives, and the test would never end.
"${TAVIMORE_WINE:-wine}" wineboot </dev/null >/dev/null 2>&1
ctest --preset "$preset" -j "$jobs"
