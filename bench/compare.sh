#!/usr/bin/env bash
# Whole-process timings of tavimore-cli beside programs that do the same amount of work:
#   G00 -> PSD   against ImageMagick writing an RLE PSD from the same pixels given raw
#   G00 -> BMP   against cp of the resulting BMP
#   G00 -> PNG   against Pillow's Image.save(path, "PNG") at its defaults and ImageMagick's
#                convert, both from the same pixels given raw; the sizes of the three files;
#                and the command line on one processor against all of them
#   a batch of 500 files with -j 1 against -j 2
# Both sides of a pair are run alternately, REPS times each in one run (BATCH_REPS for the
# batch), and the medians are compared. Peak memory comes from /usr/bin/time -v.
#
#   bench/compare.sh [BUILD_DIR]      (default build/native; needs tavimore-cli and bench-inputs)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/native}
reps=${REPS:-11}
batch_reps=${BATCH_REPS:-5}
cli=$build/tavimore-cli
magick=/usr/bin/convert
width=1920
height=1080

python=/usr/bin/python3  # the interpreter with Pillow
for tool in "$cli" "$build/bench-inputs" "$magick" /usr/bin/time "$python"; do
  [ -x "$tool" ] || { echo "compare: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench-inputs" "$work/in"
mkdir -p "$work/psd" "$work/bmp" "$work/png" "$work/png1" "$work/j1" "$work/j2"
cat >"$work/pillow_png.py" <<EOF
import sys
from PIL import Image
with open(sys.argv[1], "rb") as f:
    Image.frombytes("RGBA", ($width, $height), f.read()).save(sys.argv[2], "PNG")
EOF

calc() { awk "BEGIN { print $1 }"; }

# Seconds of one run of a command line, from bash's microsecond clock; eval keeps the
# command a direct child, with no shell started in between.
seconds() {
  local start=$EPOCHREALTIME
  eval "$1" >/dev/null
  local end=$EPOCHREALTIME
  calc "$end - $start"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs two commands alternately (after one untimed run of each) and prints both medians
# in milliseconds and the ratio of the second to the first.
compare() {
  local label=$1 count=$2 ours=$3 theirs=$4
  local a=() b=()
  eval "$ours" >/dev/null
  eval "$theirs" >/dev/null
  for ((i = 0; i < count; i++)); do
    a+=("$(seconds "$ours")")
    b+=("$(seconds "$theirs")")
  done
  local ma mb
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  printf '%-40s %9.1f ms  %9.1f ms  %6.2fx\n' "$label" "$(calc "$ma * 1000")" \
    "$(calc "$mb * 1000")" "$(calc "$mb / $ma")"
}

# Peak resident set of a command, in bytes.
peak() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { print $2 * 1024 }'
}

in=$work/in
echo "whole process, medians of $reps runs (batch: $batch_reps), alternating; ratio = other / ours"
printf '%-40s %12s  %12s  %7s\n' "" "ours" "other" "ratio"
compare "G00->PSD vs ImageMagick raw RGBA->PSD" "$reps" \
  "'$cli' -q -o '$work/psd' '$in/picture.g00'" \
  "'$magick' -size ${width}x$height -depth 8 rgba:'$in/picture.rgba' -compress RLE '$work/magick.psd'"
"$cli" -q --bmp -o "$work/bmp" "$in/picture.g00"
compare "G00->BMP vs cp of the BMP" "$reps" \
  "'$cli' -q --bmp -o '$work/bmp' '$in/picture.g00'" \
  "cp '$work/bmp/picture.bmp' '$work/copy.bmp'"
compare "G00->PNG vs Pillow raw RGBA->PNG" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/picture.g00'" \
  "'$python' '$work/pillow_png.py' '$in/picture.rgba' '$work/pillow.png'"
compare "G00->PNG vs ImageMagick raw RGBA->PNG" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/picture.g00'" \
  "'$magick' -size ${width}x$height -depth 8 rgba:'$in/picture.rgba' '$work/magick.png'"
compare "G00->PNG: all processors vs one" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/picture.g00'" \
  "taskset -c 0 '$cli' -q --png -o '$work/png1' '$in/picture.g00'"
cmp -s "$work/png/picture.png" "$work/png1/picture.png" || { echo "compare: the PNG depends on the processors" >&2; exit 1; }
compare "500 files: -j 2 vs -j 1" "$batch_reps" \
  "'$cli' -q -j 2 -o '$work/j2' '$in'/batch/*.g00" \
  "'$cli' -q -j 1 -o '$work/j1' '$in'/batch/*.g00"
cmp -s <(cat "$work"/j1/*.psd) <(cat "$work"/j2/*.psd) || { echo "compare: -j 1 and -j 2 differ" >&2; exit 1; }

# The buffers a PSD conversion needs: the file, the Canvas, the flattening planes, the output.
canvas=$((width * height * 4))
file=$(stat -c %s "$in/picture.g00")
psd=$(stat -c %s "$work/psd/picture.psd")
bmp=$(stat -c %s "$work/bmp/picture.bmp")
baseline=$(peak "$cli" --version)
psd_peak=$(peak "$cli" -q -o "$work/psd" "$in/picture.g00")
bmp_peak=$(peak "$cli" -q --bmp -o "$work/bmp" "$in/picture.g00")
png_peak=$(peak "$cli" -q --png -o "$work/png" "$in/picture.g00")
mib() { awk "BEGIN { printf \"%.1f\", $1 / 1048576 }"; }
ratio() { awk "BEGIN { printf \"%.3f\", $1 / $2 }"; }
psd_needed=$((file + 2 * canvas + psd))
bmp_needed=$((file + canvas + bmp))
echo
echo "peak memory (maximum resident set; the program alone, --version: $(mib "$baseline") MiB)"
printf '%-10s peak %6s MiB, buffers %6s MiB (file %s + Canvas %s + planes %s + output %s): %sx, %sx without the program alone\n' \
  "G00->PSD" "$(mib "$psd_peak")" "$(mib "$psd_needed")" "$(mib "$file")" "$(mib "$canvas")" \
  "$(mib "$canvas")" "$(mib "$psd")" "$(ratio "$psd_peak" "$psd_needed")" \
  "$(ratio "$((psd_peak - baseline))" "$psd_needed")"
printf '%-10s peak %6s MiB, buffers %6s MiB (file %s + Canvas %s + output %s): %sx, %sx without the program alone\n' \
  "G00->BMP" "$(mib "$bmp_peak")" "$(mib "$bmp_needed")" "$(mib "$file")" "$(mib "$canvas")" \
  "$(mib "$bmp")" "$(ratio "$bmp_peak" "$bmp_needed")" "$(ratio "$((bmp_peak - baseline))" "$bmp_needed")"
printf '%-10s peak %6s MiB (file %s + Canvas %s + output written %s, and a zlib work area per thread)\n' \
  "G00->PNG" "$(mib "$png_peak")" "$(mib "$file")" "$(mib "$canvas")" \
  "$(mib "$(stat -c %s "$work/png/picture.png")")"

png=$(stat -c %s "$work/png/picture.png")
pillow=$(stat -c %s "$work/pillow.png")
magick_png=$(stat -c %s "$work/magick.png")
echo
echo "PNG sizes: tavimore-cli $png bytes, Pillow $pillow ($(ratio "$png" "$pillow")x of it)," \
  "ImageMagick $magick_png ($(ratio "$png" "$magick_png")x of it)"
