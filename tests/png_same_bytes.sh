#!/usr/bin/env bash
# The Windows console program writes the same PNG files as the Linux one: both convert the same
# region-based and full-frame pictures (several bands each). Where both builds deflate alike (the
# png-deflater file of each build names its deflate and version), the files must be the same
# bytes; where they do not (one fell back to zlib), the same pixels: each file is packed back into
# a G00 file by the Linux tavimore-pack, which reads nothing but the pixels, and those files must
# match. Each program's own file must also be the same at one thread and at four.
#
#   tests/png_same_bytes.sh NATIVE_BUILD_DIR TAVIMORE_CLI_EXE
# Skips (77) when the native build, which writes the pictures and the Linux files, is absent.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
native=$1
exe=$2
for tool in "$native/tavimore-cli" "$native/tavimore-pack" "$native/g00-make"; do
  [ -x "$tool" ] || { echo "png_same_bytes: $tool is missing (build the native preset)"; exit 77; }
done

deflater() { cat "$1/png-deflater" 2>/dev/null || echo "unknown ($1)"; }
linux_deflater=$(deflater "$native") windows_deflater=$(deflater "$(dirname "$exe")")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in linux windows linux1 windows1 packed-linux packed-windows
"$native/g00-make" --kind sprite --size 1000x700 --seed 5 in/sprite.g00 >/dev/null
"$native/g00-make" --kind photo --size 900x650 --seed 6 in/photo.g00 >/dev/null
"$native/g00-make" --kind lineart --size 77x3000 --seed 7 in/tall.g00 >/dev/null
"$native/tavimore-cli" -q --png -j 4 -o linux in/sprite.g00 in/photo.g00 in/tall.g00
"$native/tavimore-cli" -q --png -j 1 -o linux1 in/sprite.g00 in/photo.g00 in/tall.g00
"$here/tools/wine-run.sh" "$exe" -q --png -j 4 -o windows in/sprite.g00 in/photo.g00 in/tall.g00
"$here/tools/wine-run.sh" "$exe" -q --png -j 1 -o windows1 in/sprite.g00 in/photo.g00 in/tall.g00
if [ "$linux_deflater" = "$windows_deflater" ]; then
  for name in sprite photo tall; do cmp "linux/$name.png" "windows/$name.png"; done
  same="the same bytes (both deflate with $linux_deflater)"
else
  "$native/tavimore-pack" -q -o packed-linux linux/sprite.png linux/photo.png linux/tall.png
  "$native/tavimore-pack" -q -o packed-windows windows/sprite.png windows/photo.png windows/tall.png
  for name in sprite photo tall; do cmp "packed-linux/$name.g00" "packed-windows/$name.g00"; done
  same="the same pixels ($linux_deflater on Linux, $windows_deflater on Windows)"
fi
for name in sprite photo tall; do
  cmp "linux/$name.png" "linux1/$name.png"
  cmp "windows/$name.png" "windows1/$name.png"
done
echo "png_same_bytes: the three files hold $same"
