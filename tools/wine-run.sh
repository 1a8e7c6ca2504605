#!/usr/bin/env bash
# Runs a Windows test program under Wine, in a prefix of the build tree's own, made on first use.
# Code page 932 comes from the Japanese locale.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${TAVIMORE_WINEPREFIX:-$here/build/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/tools/wine-prefix.sh" >/dev/null
exec wine "$@"
