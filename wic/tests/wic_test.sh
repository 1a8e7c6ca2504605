#!/usr/bin/env bash
# The WIC codec under Wine, in a prefix of its own (registration changes its registry):
#  - registered per user by regsvr32, then per machine by regsvr32 /n /i:machine, a WIC client
#    decodes pictures equal to the converter's PNG files, and files at the edges of what the
#    decoder's patterns say, and fails on every damaged file;
#  - while it is registered, Windows' own decoders read icons and TGA files as before;
#  - another program's .g00 association stays as it was, and each regsvr32 /u leaves the
#    registry as it found it, key for key, also with two DLLs registered and removed in turn.
# Wine's classes root does not show HKCU\Software\Classes, so its WIC finds only the per-machine
# registration; the per-user one is used through the DLL's class object.
# usage: wic_test.sh WINE_RUN DLL WIC_CHECK CLI G00_MAKE HOSTILE_DIR
set -euo pipefail
wine_run=$1 dll=$2 check=$3 cli=$4 make=$5 hostile=$6
here=$(cd "$(dirname "$0")/../.." && pwd)
export TAVIMORE_WINEPREFIX=${TAVIMORE_WINEPREFIX:-$here/build/wineprefix}-wic
work=$(mktemp -d)
fail() { echo "FAIL: $*"; exit 1; }
run() { "$wine_run" "$@"; }
# One wineserver for the prefix's many short programs, its services started first (see
# tools/windows-tests.sh). A failed run may leave its keys behind: the next one starts afresh.
WINEPREFIX=$TAVIMORE_WINEPREFIX "$here/tools/wine-prefix.sh" >/dev/null
WINEPREFIX=$TAVIMORE_WINEPREFIX wineserver -p
trap 'status=$?; WINEPREFIX=$TAVIMORE_WINEPREFIX wineserver -k 2>/dev/null; rm -rf "$work"
      [ $status -eq 0 ] || rm -rf "$TAVIMORE_WINEPREFIX"' EXIT
WINEPREFIX=$TAVIMORE_WINEPREFIX WINEARCH=${TAVIMORE_WINEARCH:-win32} WINEDEBUG=-all \
  WINEDLLOVERRIDES=mscoree,mshtml= "${TAVIMORE_WINE:-wine}" wineboot </dev/null >/dev/null 2>&1

# Odd sizes of both kinds, heights of one bit in either byte, and the samples.
run "$make" --kind sprite --size 97x61 "$work/soft.g00" >/dev/null
run "$make" --kind photo --size 75x50 "$work/wide.g00" >/dev/null
run "$make" --kind lineart --type 2 --size 33x130 "$work/lines.g00" >/dev/null
run "$make" --kind photo --size 300x1 "$work/row.g00" >/dev/null
run "$make" --kind sprite --type 2 --size 5x256 "$work/column.g00" >/dev/null
cp "$here"/samples/*.g00 "$work/"
pictures=("$work"/*.g00)
run "$cli" -q --png -o "$work/png" "${pictures[@]}" || fail "the converter failed"

# Full frames no encoder writes but the decoder reads, each met by one kind of pattern, and a
# header claiming 16384x16384 pixels in 13 bytes.
mkdir "$work/edge"
edge() { printf "$2" >"$work/edge/$1.g00"; echo "$1.g00 $3" >>"$work/edge/expected.txt"; }
edge no-stream '\0\1\0\1\0\10\0\0\0\0\0\0\0' ok
edge control-byte-only '\0\1\0\0\200\11\0\0\0\0\0\0\0\377' ok
edge copy-0-first '\0\2\0\1\0\16\0\0\0\0\0\0\0\2\0\0\21\42\63' ok
edge length-0 '\0\1\0\1\0\0\0\0\0\0\0\0\0\1\2\3' ok
edge bomb '\0\0\100\0\100\10\0\0\0\0\0\0\0' tooManyPixels

# Software of both roots: everything registration may write. Wine itself rewrites keys under
# HKLM\System (its display driver's) as it pleases, so those are not compared.
registry() {
  for root in HKCU HKLM; do
    run reg export "$root\Software" "$work/$root-$1.reg" /y >/dev/null 2>&1 || fail "cannot export $root"
  done
}
same_registry() {
  for root in HKCU HKLM; do
    diff <(iconv -f UTF-16LE -t UTF-8 "$work/$root-$2.reg") \
         <(iconv -f UTF-16LE -t UTF-8 "$work/$root-$1.reg") || fail "$1: $root is not as before"
  done
}
# has KEY VALUE TEXT: the value (/ve: the default) holds TEXT.
has() {
  local name=(/v "$2"); [ "$2" = /ve ] && name=(/ve)
  run reg query "$1" "${name[@]}" 2>/dev/null | tr -d '\r' | grep -q "REG_[A-Z]*[[:space:]]*$3\$"
}

registry before
run regsvr32 /s "$dll" || fail "regsvr32 failed"
has 'HKCU\Software\Classes\.g00\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}' /ve \
  '{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}' || fail "no thumbnail provider for .g00 in HKCU"
has 'HKCU\Software\Classes\.g00' /ve Tavimore.G00 || fail ".g00 without a type is not given one"
run "$check" --dll "$dll" pixels "$work/png" "${pictures[@]}" || fail "per user: pixels differ"
for list in "$hostile/expected.txt" "$work/edge/expected.txt"; do
  run "$check" --dll "$dll" hostile "$list" "$(dirname "$list")" >"$work/hostile.log" ||
    { cat "$work/hostile.log"; fail "a file of $list is decoded or refused wrongly"; }
done
run regsvr32 /s /u "$dll" || fail "regsvr32 /u failed"
registry user
same_registry user before

# The system's decoders before and while the codec is registered: the same answers.
mkdir "$work/foreign"
run "$check" foreign "$work/foreign" >"$work/foreign-before.txt" || fail "foreign files"
[ "$(grep -c ' 0x00000000 ' "$work/foreign-before.txt")" -ge 5 ] ||
  { cat "$work/foreign-before.txt"; fail "Wine reads too few of the icons and TGA files"; }
run regsvr32 /s /n /i:machine "$dll" || fail "regsvr32 /i:machine failed"
run "$check" foreign "$work/foreign" >"$work/foreign-after.txt" || fail "foreign files"
diff "$work/foreign-before.txt" "$work/foreign-after.txt" ||
  fail "the codec takes files of other formats from the system's decoders"
run "$check" pixels "$work/png" "${pictures[@]}" || fail "WIC does not decode them as the converter"
for list in "$hostile/expected.txt" "$work/edge/expected.txt"; do
  run "$check" hostile "$list" "$(dirname "$list")" >"$work/hostile.log" ||
    { cat "$work/hostile.log"; fail "WIC's search decodes or refuses a file of $list wrongly"; }
done
run regsvr32 /s /u /n /i:machine "$dll" || fail "regsvr32 /u /i:machine failed"
registry machine
same_registry machine before

# Another viewer's association, for the user and for every user: it stays the default, keeps
# its own thumbnail handler, and is all that is left after removal.
thumbnail='\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}'
for scope in user machine; do
  root=HKCU; flags=(); [ $scope = machine ] && root=HKLM flags=(/n /i:machine)
  key="$root\\Software\\Classes\\.g00"
  run reg add "$key" /ve /d Other.Picture /f >/dev/null
  run reg add "$key" /v 'Content Type' /d image/x-other /f >/dev/null
  run reg add "$key$thumbnail" /ve /d '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}' /f >/dev/null
  registry owned
  run regsvr32 /s "${flags[@]}" "$dll" || fail "$scope: regsvr32 failed"
  has "$key" /ve Other.Picture || fail "$scope: the default type of .g00 was replaced"
  has "$key" 'Content Type' image/x-other || fail "$scope: the content type was replaced"
  has "$key$thumbnail" /ve '{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}' ||
    fail "$scope: the thumbnail handler was replaced"
  has "$key\\OpenWithProgids" Tavimore.G00 '' || fail "$scope: Tavimore.G00 is not offered for .g00"
  has "$key" PerceivedType image || fail "$scope: the missing perceived type was not added"
  run regsvr32 /s /u "${flags[@]}" "$dll" || fail "$scope: regsvr32 /u failed"
  registry "owned-$scope"
  same_registry "owned-$scope" owned
  run reg delete "$key" /f >/dev/null
done

# Both DLLs for every user (under wine64 the second is a copy of the first under the 32-bit
# name, in the same registry view): removing one leaves the other decoding and .g00 in place.
mkdir "$work/second"
second="$work/second/tavimore-wic-x86.dll"
cp "$dll" "$second"
registry alone
run regsvr32 /s /n /i:machine "$dll" || fail "regsvr32 /i:machine failed"
run regsvr32 /s /n /i:machine "$second" || fail "regsvr32 /i:machine of the second DLL failed"
run regsvr32 /s /u /n /i:machine "$dll" || fail "regsvr32 /u /i:machine failed"
has 'HKLM\Software\Classes\.g00\OpenWithProgids' Tavimore.G00 '' ||
  fail "removing one DLL removed what the other uses"
run "$check" pixels "$work/png" "${pictures[0]}" || fail "removing one DLL stopped the other"
run regsvr32 /s /u /n /i:machine "$second" || fail "regsvr32 /u /i:machine of the second failed"
registry both
same_registry both alone
echo "wic: passed"
