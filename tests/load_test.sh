#!/usr/bin/env bash
# Converts 2,000 files one by one and two at a time: every output is written, and the peak
# memory of the whole run is that of a short run (nothing grows from file to file).
set -euo pipefail
cli=$1
count=${2:-2000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sources"

/usr/bin/python3 - "$work/sources" "$count" <<'PY'
import struct, sys
folder, count = sys.argv[1], int(sys.argv[2])
def g00(n):
    w, h = 96, 64
    if n % 2:   # full frame, literal-only stream
        stream = bytearray()
        for i in range(w * h):
            if i % 8 == 0:
                stream.append(0xFF)
            stream += bytes(((i + n) & 255, (i >> 4) & 255, n & 255))
        return struct.pack('<BHHII', 0, w, h, 8 + len(stream), w * h * 4) + stream
    # region-based: one region, one part of 40 x 30 with an alpha ramp
    pw, ph = 40, 30
    part = struct.pack('<HHHHH', 5, 7, 0, pw, ph) + bytes(82)
    part += b''.join(bytes(((x + n) & 255, y, 200, x * 6)) for y in range(ph) for x in range(pw))
    data = struct.pack('<III', 1, 12, len(part) + 116) + struct.pack('<HH', 0, 1) + bytes(112) + part
    stream = bytearray()
    for i, b in enumerate(data):
        if i % 8 == 0:
            stream.append(0xFF)
        stream.append(b)
    records = struct.pack('<IIIIII', 0, 0, w - 1, h - 1, 0, 0)
    return (struct.pack('<BHHI', 2, w, h, 1) + records +
            struct.pack('<II', 8 + len(stream), len(data)) + stream)
for n in range(count):
    open(f'{folder}/f{n:05}.g00', 'wb').write(g00(n))
PY

peak() { awk -F': ' '/Maximum resident set size/ {print $2}' "$1"; }
for jobs in 1 2; do
  mkdir -p "$work/out$jobs" "$work/short$jobs"
  /usr/bin/time -v "$cli" -q -j $jobs -o "$work/short$jobs" $(ls "$work"/sources/*.g00 | head -n 20) 2>"$work/short-time$jobs"
  start=$(date +%s.%N)
  /usr/bin/time -v "$cli" -q -j $jobs -o "$work/out$jobs" "$work"/sources/*.g00 2>"$work/time$jobs"
  end=$(date +%s.%N)
  outputs=$(ls "$work/out$jobs" | wc -l)
  [ "$outputs" = "$count" ] || { echo "FAIL (-j $jobs): $outputs outputs of $count"; exit 1; }
  short=$(peak "$work/short-time$jobs")
  long=$(peak "$work/time$jobs")
  printf -- '-j %s: %s files in %.2f s, peak memory %s KiB (20 files: %s KiB)\n' \
    "$jobs" "$count" "$(echo "$end - $start" | bc)" "$long" "$short"
  # A leak of even one small buffer per file would add megabytes over 2,000 files.
  [ "$long" -le $((short + 2048)) ] ||
    { echo "FAIL (-j $jobs): memory grew from $short KiB to $long KiB"; exit 1; }
done
cmp -s <(cd "$work/out1" && cat *) <(cd "$work/out2" && cat *) ||
  { echo "FAIL: -j 2 wrote other bytes than -j 1"; exit 1; }
