#!/usr/bin/env bash
# tavimore-pack's round trips through files, for the Windows console programs under Wine:
#   - a G00 file converted to PNG by tavimore-cli and packed back --like itself is the same
#     file again (the same data compressed by the same compressor), region-based and full-frame;
#   - the BMP of a soft-edged sprite (no alpha) packed back --like itself is the same file, its
#     alpha taken from the original;
#   - pictures packed without --like convert back to the same PNG bytes;
#   - every G00 file written is the Linux program's, byte for byte;
#   - a tree of a few hundred files (sprites with overlapping faces, sprites in parts, photos)
#     taken apart with -r --layers and with -r --regions, packed back with -r --like-dir, gives
#     every file again; with --changed-only only the one edited region file is written.
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

# The tree: 3 folders of 100 files, written by the native g00-make.
for folder in chara bg ui; do
  mkdir -p "game/$folder/sub"
  for n in $(seq 100); do
    case $((n % 3)) in
      0) args=(--expressions $((n % 4 + 1)) --size 40x32) ;;
      1) args=(--kind sprite --size 36x28 --region-size 12) ;;
      2) args=(--kind photo --size 24x16) ;;
    esac
    "$native/g00-make" "${args[@]}" --seed "$n" "game/$folder/$([ $((n % 2)) = 0 ] && echo sub/)$folder$n.g00" >/dev/null
  done
done
"$@" "$cli" -q -r --layers -o work game
"$@" "$pack" -q -r -j 2 --like-dir game -o patch work
"$@" "$cli" -q -r --regions --png -o regions game
"$@" "$pack" -q -r --like-dir game -o patch-regions regions
count=0
for file in $(cd game && find . -name '*.g00' | sort); do
  cmp "game/$file" "patch/$file"
  cmp "game/$file" "patch-regions/$file"
  count=$((count + 1))
done
[ "$count" = 300 ] || { echo "pack_round_trip: $count files in the tree"; exit 1; }
# Of two sprites' region files, face 1 of chara3 replaced by its face 2 (both 10 x 10): only
# chara3.g00 is written.
mkdir -p edited/chara
cp regions/chara/chara3_*.png regions/chara/chara9_*.png edited/chara/
cp regions/chara/chara3_002.png edited/chara/chara3_001.png
"$@" "$pack" -r --like-dir game --changed-only -o changed edited >summary.txt
grep -q "packed 1 of 2 files into changed, 1 unchanged left out" summary.txt
[ "$(cd changed && find . -type f)" = ./chara/chara3.g00 ]
echo "pack_round_trip: both pictures and the sprite's BMP come back, as the Linux program writes them; so does a tree of $count files"
