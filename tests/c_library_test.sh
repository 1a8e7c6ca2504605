#!/usr/bin/env bash
# The C library as another program gets it: installed by `cmake --install`, the example program
# built against the installed files alone, its outputs byte for byte those of tavimore-cli and
# tavimore-pack.
#   tests/c_library_test.sh native  BUILD_DIR
#   tests/c_library_test.sh windows BUILD_DIR NATIVE_BUILD_DIR MINGW_GCC   (run under Wine)
# Windows' check skips (77) when the native build that writes the expected files is absent.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
target=$1 build=$(realpath "$2") native=$(realpath "${3:-$2}")
fail() { echo "FAIL: $*"; exit 1; }
for tool in tavimore-cli tavimore-pack g00-make; do
  [ -x "$native/$tool" ] || { echo "c_library: $native/$tool is missing"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
for component in library development; do
  cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done

if [ "$target" = native ]; then
  pc=$(find "$prefix" -name tavimore.pc)
  [ -n "$pc" ] || fail "no tavimore.pc installed"
  so=$(find "$prefix" -name libtavimore.so.1)
  [ "$(LC_ALL=C objdump -p "$so" | awk '$1 == "SONAME" {print $2}')" = libtavimore.so.1 ] || fail "SONAME"
  others=$(LC_ALL=C nm -D --defined-only "$so" | awk '{print $3}' | grep -v '^tavimore_' || true)
  [ -z "$others" ] || fail "the library exports more than tavimore_*: $others"
  export PKG_CONFIG_PATH=$(dirname "$pc")
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Werror "$here/examples/tavimore_example.c" \
     $(pkg-config --cflags --libs tavimore) -Wl,-rpath,"$(dirname "$so")" -o "$work/tavimore-example"
  run=("$work/tavimore-example")
else
  compiler=$4 triple=$(basename "$4" | sed 's/-gcc.*//')
  dll=$prefix/tavimore.dll
  # binutils speaks the locale's language; the headings matched here are its English ones.
  imports=$(LC_ALL=C "$triple-objdump" -p "$dll" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z')
  for name in $imports; do
    case $name in kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll) ;;
      *) fail "tavimore.dll imports $name, which Windows does not ship" ;; esac
  done
  exports=$(LC_ALL=C "$triple-objdump" -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '/^\t\[/ {print $NF}')
  others=$(grep -v '^tavimore_' <<<"$exports" || true)
  [ -n "$exports" ] && [ -z "$others" ] || fail "tavimore.dll exports more than tavimore_*: $others"
  "$compiler" -std=c99 -Wall -Wextra -Werror "$here/examples/tavimore_example.c" -I"$prefix/include" \
     "$prefix/lib/libtavimore.dll.a" -o "$prefix/tavimore-example.exe"
  run=("$here/tools/wine-run.sh" "$prefix/tavimore-example.exe")
fi

cd "$work"
mkdir in cli example
"$native/g00-make" --samples in >/dev/null
"$native/g00-make" --kind sprite --size 700x500 --region-size 96 --seed 3 in/regions.g00 >/dev/null
"$native/g00-make" --kind photo --size 600x900 --seed 4 in/photo.g00 >/dev/null
names=(landscape sprite regions photo)
cli=("$native/tavimore-cli" -q)
"${cli[@]}" -o cli/default in/*.g00
"${cli[@]}" --bmp -o cli/bmp in/*.g00
"${cli[@]}" --png -o cli/png in/*.g00
"${cli[@]}" --layers -o cli/layers in/*.g00
"${cli[@]}" --png --regions -o cli/regions in/regions.g00
"$native/tavimore-pack" -q -o cli/fresh cli/png/*.png
for name in "${names[@]}"; do
  "$native/tavimore-pack" -q --like "in/$name.g00" -o "cli/like-$name" "cli/png/$name.png"
done

same() { cmp "$1" "$2" || fail "$3"; }
for name in "${names[@]}"; do
  default=$(cd cli/default && ls "$name".*)
  "${run[@]}" convert "in/$name.g00" "example/$default"
  same "cli/default/$default" "example/$default" "$name: the default output differs"
  "${run[@]}" convert "in/$name.g00" "example/$name.bmp"
  same "cli/bmp/$name.bmp" "example/$name.bmp" "$name: the BMP differs"
  "${run[@]}" convert "in/$name.g00" "example/$name.png"
  same "cli/png/$name.png" "example/$name.png" "$name: the PNG differs"
  layered=$(cd cli/layers && ls "$name".*)
  if [ "$layered" = "$name.psd" ]; then
    "${run[@]}" layers "in/$name.g00" "example/layers-$name.psd"
    same "cli/layers/$name.psd" "example/layers-$name.psd" "$name: the layered PSD differs"
  fi
  "${run[@]}" pack "cli/png/$name.png" "example/$name.g00"
  same "cli/fresh/$name.g00" "example/$name.g00" "$name: the fresh G00 differs"
  "${run[@]}" pack "cli/png/$name.png" "example/like-$name.g00" "in/$name.g00"
  same "cli/like-$name/$name.g00" "example/like-$name.g00" "$name: the G00 like the original differs"
done
count=0
for region in cli/regions/regions_*.png; do
  index=$(basename "$region" .png) index=$((10#${index#regions_}))
  place=$("${run[@]}" region in/regions.g00 "$index" "example/region.png" | tr -d '\r' | sed -n 's/.* at (\([0-9]*\), \([0-9]*\))/\1 \2/p')
  # The converter's region PNG records its place in an oFFs chunk after IHDR; the rest is the
  # library's PNG.
  [ "$(od -An -tu1 -j41 -N8 "$region" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')" = "$place" ] ||
    fail "region $index: its oFFs is not at $place"
  { head -c 33 "$region"; tail -c +55 "$region"; } >cli/region.png
  same cli/region.png example/region.png "region $index differs"
  count=$((count + 1))
done
[ "$count" -gt 1 ] || fail "the picture of regions drew $count regions"
# A file the decoder refuses is refused with its reason, and nothing is written.
head -c 40 in/regions.g00 >in/cut.g00
if "${run[@]}" convert in/cut.g00 example/cut.png 2>example/reason; then fail "a cut file converted"; fi
grep -q "cut short" example/reason || fail "a cut file gave: $(cat example/reason)"
[ ! -e example/cut.png ] || fail "a refused file was written"
echo "c_library ($target): the example's outputs are tavimore-cli's and tavimore-pack's"
