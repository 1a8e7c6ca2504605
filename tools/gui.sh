#!/usr/bin/env bash
# Opens the Windows program under Wine on your display, in the project's Wine prefix
# (build/wineprefix, made on first use with the Japanese locale and the font replacements).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  echo "gui: no DISPLAY; run this from a desktop session (or set DISPLAY to an X server)" >&2
  exit 1
fi
exe="$here/build/win32/tavimore.exe"
if [ ! -x "$exe" ]; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j 2 --target tavimore
fi
cd "$here"
exec "$here/tools/wine-run.sh" "$exe"
