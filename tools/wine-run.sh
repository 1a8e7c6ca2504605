#!/usr/bin/env bash
# Runs a Windows test program under Wine, in a prefix of the build tree's own, made on first use.
# Code page 932 comes from the Japanese locale. TAVIMORE_WINE names another loader (wine64 for
# a 64-bit build), TAVIMORE_WINEARCH its prefix's kind, TAVIMORE_WINE_LANG another locale.
#
# When Wine itself fails (a client that meets a wineserver going away prints "wine client
# error"), the program runs once more and says so; a program's own failure is never retried.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${TAVIMORE_WINEPREFIX:-$here/build/wineprefix}
export WINEARCH=${TAVIMORE_WINEARCH:-win32}
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=${TAVIMORE_WINE_LANG:-ja_JP.UTF-8} LC_ALL=${TAVIMORE_WINE_LANG:-ja_JP.UTF-8}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/tools/wine-prefix.sh" >/dev/null || exit 1

errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
# Standard error goes through tee into $errors; standard output stays apart on descriptor 3.
run() {
  { "${TAVIMORE_WINE:-wine}" "$@" 2>&1 1>&3 | tee "$errors" >&2; } 3>&1
  return "${PIPESTATUS[0]}"
}
run "$@"
rc=$?
if [ $rc -ne 0 ] && grep -q '^wine client error\|could not connect to wineserver' "$errors"; then
  echo "wine-run: Wine itself failed ($(grep -m1 '^wine client error\|wineserver' "$errors")): running once more" >&2
  run "$@"
  rc=$?
fi
exit $rc
