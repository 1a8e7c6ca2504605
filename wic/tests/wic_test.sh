#!/usr/bin/env bash
# The WIC codec under Wine, in a prefix of its own (registration changes its registry):
#   registered per user by regsvr32, then per machine by regsvr32 /n /i:machine, a WIC client
#   decodes pictures equal to the converter's PNG files and fails on every damaged file of the
#   hostile corpus; regsvr32 /u leaves the registry as it was, key for key.
# Wine's classes root does not show HKCU\Software\Classes, so its WIC finds only the per-machine
# registration; the per-user one is used through the DLL's class object.
# usage: wic_test.sh WINE_RUN DLL WIC_CHECK CLI G00_MAKE HOSTILE_DIR
set -euo pipefail
wine_run=$1 dll=$2 check=$3 cli=$4 make=$5 hostile=$6
here=$(cd "$(dirname "$0")/../.." && pwd)
export TAVIMORE_WINEPREFIX=${TAVIMORE_WINEPREFIX:-$here/build/wineprefix}-wic
work=$(mktemp -d)
# A failed run may leave its keys behind: the next run starts from a fresh prefix.
trap 'status=$?; rm -rf "$work"; [ $status -eq 0 ] || rm -rf "$TAVIMORE_WINEPREFIX"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
run() { "$wine_run" "$@"; }

# Odd sizes of both kinds, and the samples.
run "$make" --kind sprite --size 97x61 "$work/soft.g00" >/dev/null
run "$make" --kind photo --size 75x50 "$work/wide.g00" >/dev/null
run "$make" --kind lineart --type 2 --size 33x130 "$work/lines.g00" >/dev/null
cp "$here"/samples/*.g00 "$work/"
pictures=("$work"/*.g00)
run "$cli" -q --png -o "$work/png" "${pictures[@]}" || fail "the converter failed"

# Software of both roots: everything registration may write. Wine itself rewrites keys under
# HKLM\System (its display driver's) as it pleases, so those are not compared.
registry() {
  for root in HKCU HKLM; do
    run reg export "$root\Software" "$work/$root-$1.reg" /y >/dev/null 2>&1 || fail "cannot export $root"
  done
}
same_registry() {
  for root in HKCU HKLM; do
    diff <(iconv -f UTF-16LE -t UTF-8 "$work/$root-before.reg") \
         <(iconv -f UTF-16LE -t UTF-8 "$work/$root-$1.reg") || fail "$1: $root is not as before"
  done
}

registry before
run regsvr32 /s "$dll" || fail "regsvr32 failed"
run reg query 'HKCU\Software\Classes\.g00\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}' >/dev/null ||
  fail "no thumbnail provider for .g00 in HKCU"
run "$check" --dll "$dll" pixels "$work/png" "${pictures[@]}" || fail "per user: pixels differ"
run "$check" --dll "$dll" hostile "$hostile/expected.txt" "$hostile" >"$work/hostile.log" ||
  { cat "$work/hostile.log"; fail "a hostile file was decoded or crashed the decoder"; }
run regsvr32 /s /u "$dll" || fail "regsvr32 /u failed"
registry user
same_registry user

run regsvr32 /s /n /i:machine "$dll" || fail "regsvr32 /i:machine failed"
run "$check" pixels "$work/png" "${pictures[@]}" || fail "WIC does not decode them as the converter"
run regsvr32 /s /u /n /i:machine "$dll" || fail "regsvr32 /u /i:machine failed"
registry machine
same_registry machine
echo "wic: passed"
