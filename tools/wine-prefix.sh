#!/usr/bin/env bash
# Makes the Wine prefix once (wineboot to completion), with "MS UI Gothic" mapped to a Japanese
# font of similar metrics. Several test programs may start at once: a lock keeps it to one.
set -euo pipefail
wine=${TAVIMORE_WINE:-wine}
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-${TAVIMORE_WINEPREFIX:-$here/build/wineprefix}}
export WINEARCH=${TAVIMORE_WINEARCH:-win32} WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.tavimore-ready" ]; then
  rm -rf "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1
  wineserver -w
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d 'IPAPGothic' /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ /d 'IPAPGothic' /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.tavimore-ready"
fi
echo "$WINEPREFIX"
