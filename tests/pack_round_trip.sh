#!/usr/bin/env bash
# tavimore-pack's round trips through files, for the Windows console programs under Wine:
#   - a G00 file converted to PNG by tavimore-cli and packed back --like itself is the same
#     file again (the same data compressed by the same compressor), region-based and full-frame;
#   - the BMP of a soft-edged sprite (no alpha) packed back --like itself is the same file, its
#     alpha taken from the original;
#   - pictures packed without --like convert back to the same PNG bytes;
#   - every G00 file written is the Linux program's, byte for byte.
#
#   tests/pack_round_trip.sh NATIVE_BUILD_DIR TAVIMORE_CLI TAVIMORE_PACK [RUNNER...]
# RUNNER runs the two programs (tools/wine-run.sh for the .exe files; none for native ones).
# Skips (77) when the native build, which writes the G00 files and the Linux outputs, is absent.
set -euo pipefail
native=$1 cli=$2 pack=$3
shift 3
for tool in "$native/tavimore-pack" "$native/g00-make"; do
  [ -x "$tool" ] || { echo "pack_round_trip: $tool is missing (build the native preset)"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in
"$native/g00-make" --kind sprite --size 300x200 --seed 8 in/sprite.g00 >/dev/null
"$native/g00-make" --kind photo --size 120x90 --seed 9 in/photo.g00 >/dev/null
"$@" "$cli" -q --png -o png in/sprite.g00 in/photo.g00
for name in sprite photo; do
  "$@" "$pack" -q --like "in/$name.g00" -o like "png/$name.png"
  cmp "in/$name.g00" "like/$name.g00"
  "$native/tavimore-pack" -q --like "in/$name.g00" -o like-linux "png/$name.png"
done
"$@" "$cli" -q --bmp -o bmp in/sprite.g00
"$@" "$pack" -q --like in/sprite.g00 -o like-bmp bmp/sprite.bmp
cmp in/sprite.g00 like-bmp/sprite.g00
"$@" "$pack" -q -o fresh png/sprite.png png/photo.png
"$native/tavimore-pack" -q -o fresh-linux png/sprite.png png/photo.png
"$@" "$cli" -q --png -o back fresh/sprite.g00 fresh/photo.g00
for name in sprite photo; do
  cmp "png/$name.png" "back/$name.png"
  cmp "fresh/$name.g00" "fresh-linux/$name.g00"
  cmp "like/$name.g00" "like-linux/$name.g00"
done
echo "pack_round_trip: both pictures and the sprite's BMP come back, as the Linux program writes them"
