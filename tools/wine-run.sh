#!/usr/bin/env bash
# Runs a Windows test program under Wine, in a prefix of the build tree's own, made on first use.
# Code page 932 comes from the Japanese locale. TAVIMORE_WINE names another loader (wine64 for
# a 64-bit build), TAVIMORE_WINEARCH its prefix's kind, TAVIMORE_WINE_LANG another locale.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${TAVIMORE_WINEPREFIX:-$here/build/wineprefix}
export WINEARCH=${TAVIMORE_WINEARCH:-win32}
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${TAVIMORE_WINE_LANG:-ja_JP.UTF-8} LC_ALL=${TAVIMORE_WINE_LANG:-ja_JP.UTF-8}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/tools/wine-prefix.sh" >/dev/null
exec "${TAVIMORE_WINE:-wine}" "$@"
