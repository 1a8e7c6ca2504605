#!/usr/bin/env bash
# The Windows console program writes the same PNG bytes as the Linux one: both convert the
# same region-based and full-frame pictures (several bands each), and the files must match.
#
#   tests/png_same_bytes.sh NATIVE_BUILD_DIR TAVIMORE_CLI_EXE
# Skips (77) when the native build, which writes the pictures and the Linux files, is absent.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
native=$1
exe=$2
for tool in "$native/tavimore-cli" "$native/g00-make"; do
  [ -x "$tool" ] || { echo "png_same_bytes: $tool is missing (build the native preset)"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in linux windows
"$native/g00-make" --kind sprite --size 1000x700 --seed 5 in/sprite.g00 >/dev/null
"$native/g00-make" --kind photo --size 900x650 --seed 6 in/photo.g00 >/dev/null
"$native/g00-make" --kind lineart --size 77x3000 --seed 7 in/tall.g00 >/dev/null
"$native/tavimore-cli" -q --png -o linux in/sprite.g00 in/photo.g00 in/tall.g00
"$here/tools/wine-run.sh" "$exe" -q --png -o windows in/sprite.g00 in/photo.g00 in/tall.g00
for name in sprite photo tall; do
  cmp "linux/$name.png" "windows/$name.png"
done
echo "png_same_bytes: the three files match"
