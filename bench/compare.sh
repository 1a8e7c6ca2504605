#!/usr/bin/env bash
# Whole-process timings of tavimore-cli beside programs that do the same amount of work:
#   G00 -> PSD   against ImageMagick writing an RLE PSD from the same pixels given raw, for
#                the soft-alpha sprite and for a noisy photo whose stream is mostly literals
#   G00 -> BMP   against cp of the resulting BMP
#   G00 -> PNG   against Pillow's Image.save(path, "PNG") at its defaults and ImageMagick's
#                convert, both from the same pixels given raw, for the sprite and the noisy
#                photo; the sizes of the files; and the command line on one processor against
#                all of them
#   a batch of 500 files with -j 1 against -j 2
#   tavimore-pack --like an original that announces 512 MiB of decompressed data for a stream
#                of a few hundred bytes (tests/hostile), against packing the same picture fresh
# Both sides of a pair are run alternately, REPS times each in one run (BATCH_REPS for the
# batch), and the medians are compared. Peak memory comes from /usr/bin/time -v.
#
#   bench/compare.sh [BUILD_DIR]      (default build/native; needs tavimore-cli, tavimore-pack
#                                      and bench-inputs)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/native}
reps=${REPS:-11}
batch_reps=${BATCH_REPS:-5}
cli=$build/tavimore-cli
pack=$build/tavimore-pack
magick=/usr/bin/convert
width=1920
height=1080

python=/usr/bin/python3  # the interpreter with Pillow
for tool in "$cli" "$pack" "$build/bench-inputs" "$magick" /usr/bin/time "$python"; do
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
echo "whole process, medians of $reps runs (batch: $batch_reps), alternating; ratio = other / ours;" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-40s %12s  %12s  %7s\n' "" "ours" "other" "ratio"
compare "G00->PSD vs ImageMagick raw RGBA->PSD" "$reps" \
  "'$cli' -q -o '$work/psd' '$in/picture.g00'" \
  "'$magick' -size ${width}x$height -depth 8 rgba:'$in/picture.rgba' -compress RLE '$work/magick.psd'"
compare "G00->PSD noisy vs ImageMagick" "$reps" \
  "'$cli' -q -o '$work/psd' '$in/noisy.g00'" \
  "'$magick' -size ${width}x$height -depth 8 rgba:'$in/noisy.rgba' -compress RLE '$work/magick-noisy.psd'"
cmp -s "$work/psd/noisy.psd" <("$cli" -q -j 1 -o "$work/j1" "$in/noisy.g00" && cat "$work/j1/noisy.psd") ||
  { echo "compare: the PSD depends on the threads" >&2; exit 1; }
rm -f "$work/j1/noisy.psd"
"$cli" -q --bmp -o "$work/bmp" "$in/picture.g00"
# Here the other side is the quicker one: the ratio below 1 is cp's time over ours.
compare "G00->BMP vs cp of the BMP" "$reps" \
  "'$cli' -q --bmp -o '$work/bmp' '$in/picture.g00'" \
  "cp '$work/bmp/picture.bmp' '$work/copy.bmp'"
compare "G00->PNG vs Pillow raw RGBA->PNG" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/picture.g00'" \
  "'$python' '$work/pillow_png.py' '$in/picture.rgba' '$work/pillow.png'"
compare "G00->PNG vs ImageMagick raw RGBA->PNG" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/picture.g00'" \
  "'$magick' -size ${width}x$height -depth 8 rgba:'$in/picture.rgba' '$work/magick.png'"
compare "G00->PNG noisy vs Pillow raw RGBA->PNG" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/noisy.g00'" \
  "'$python' '$work/pillow_png.py' '$in/noisy.rgba' '$work/pillow-noisy.png'"
compare "G00->PNG noisy vs ImageMagick" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/noisy.g00'" \
  "'$magick' -size ${width}x$height -depth 8 rgba:'$in/noisy.rgba' '$work/magick-noisy.png'"
compare "G00->PNG: all processors vs one" "$reps" \
  "'$cli' -q --png -o '$work/png' '$in/picture.g00'" \
  "taskset -c 0 '$cli' -q --png -o '$work/png1' '$in/picture.g00'"
cmp -s "$work/png/picture.png" "$work/png1/picture.png" || { echo "compare: the PNG depends on the processors" >&2; exit 1; }
taskset -c 0 "$cli" -q --png -o "$work/png1" "$in/noisy.g00"
cmp -s "$work/png/noisy.png" "$work/png1/noisy.png" || { echo "compare: the PNG depends on the processors" >&2; exit 1; }
# The files hold the very pixels given.
"$python" - "$work/png" "$in" <<'EOF'
import sys
from PIL import Image
for name in ("picture", "noisy"):
    with open(f"{sys.argv[2]}/{name}.rgba", "rb") as f:
        if Image.open(f"{sys.argv[1]}/{name}.png").convert("RGBA").tobytes() != f.read():
            sys.exit(f"compare: {name}.png does not hold the picture's pixels")
EOF
compare "500 files: -j 2 vs -j 1" "$batch_reps" \
  "'$cli' -q -j 2 -o '$work/j2' '$in'/batch/*.g00" \
  "'$cli' -q -j 1 -o '$work/j1' '$in'/batch/*.g00"
cmp -s <(cat "$work"/j1/*.psd) <(cat "$work"/j2/*.psd) || { echo "compare: -j 1 and -j 2 differ" >&2; exit 1; }
# The work of packing like an original follows the picture and the original's stream, not the
# length its header announces: no slower than packing the picture fresh, give or take.
claim=$here/tests/hostile/parts-data-length-512m.g00
"$cli" -q --png -o "$work/claim" "$claim"
claim_png=$work/claim/parts-data-length-512m.png
compare "pack --like a 512 MiB claim vs fresh" "$reps" \
  "'$pack' -q --like '$claim' -o '$work/claim-like' '$claim_png'" \
  "'$pack' -q -o '$work/claim-fresh' '$claim_png'"

# The buffers a conversion needs: the file, the Canvas, the output (the file is released
# before the output is obtained, so the peak could be below their sum).
canvas=$((width * height * 4))
baseline=$(peak "$cli" --version)
mib() { awk "BEGIN { printf \"%.1f\", $1 / 1048576 }"; }
ratio() { awk "BEGIN { printf \"%.3f\", $1 / $2 }"; }
echo
echo "peak memory (maximum resident set; the program alone, --version: $(mib "$baseline") MiB)"
# memory LABEL INPUT OUTPUT ARGS...: one conversion's peak against its buffers.
memory() {
  local label=$1 input=$2 output=$3
  shift 3
  local used file size needed
  used=$(peak "$cli" -q "$@" "$input")
  file=$(stat -c %s "$input")
  size=$(stat -c %s "$output")
  needed=$((file + canvas + size))
  printf '%-16s peak %6s MiB, buffers %6s MiB (file %s + Canvas %s + output %s): %sx, %sx without the program alone\n' \
    "$label" "$(mib "$used")" "$(mib "$needed")" "$(mib "$file")" "$(mib "$canvas")" "$(mib "$size")" \
    "$(ratio "$used" "$needed")" "$(ratio "$((used - baseline))" "$needed")"
}
memory "G00->PSD" "$in/picture.g00" "$work/psd/picture.psd" -o "$work/psd"
memory "G00->PSD -j 1" "$in/picture.g00" "$work/psd/picture.psd" -j 1 -o "$work/psd"
memory "G00->PSD noisy" "$in/noisy.g00" "$work/psd/noisy.psd" -o "$work/psd"
memory "G00->BMP" "$in/picture.g00" "$work/bmp/picture.bmp" --bmp -o "$work/bmp"
png_peak=$(peak "$cli" -q --png -o "$work/png" "$in/picture.g00")
file=$(stat -c %s "$in/picture.g00")
printf '%-10s peak %6s MiB (file %s + Canvas %s + output written %s, and a work area per thread)\n' \
  "G00->PNG" "$(mib "$png_peak")" "$(mib "$file")" "$(mib "$canvas")" \
  "$(mib "$(stat -c %s "$work/png/picture.png")")"

like_peak=$(peak "$pack" -q --like "$claim" -o "$work/claim-like" "$claim_png")
printf '%-10s peak %6s MiB (tavimore-pack --like an original of %s bytes announcing 512 MiB)\n' \
  "pack like" "$(mib "$like_peak")" "$(stat -c %s "$claim")"

echo
for name in picture noisy; do
  suffix=$([ "$name" = noisy ] && echo -noisy || true)
  png=$(stat -c %s "$work/png/$name.png")
  pillow=$(stat -c %s "$work/pillow$suffix.png")
  magick_png=$(stat -c %s "$work/magick$suffix.png")
  echo "PNG sizes, $name: tavimore-cli $png bytes, Pillow $pillow ($(ratio "$png" "$pillow")x of it)," \
    "ImageMagick $magick_png ($(ratio "$png" "$magick_png")x of it)"
done
