#!/usr/bin/env bash
# Converts 2,000 files one by one and two at a time: every output is written, and the peak
# memory of the whole run is that of a short run (nothing grows from file to file).
set -euo pipefail
cli=$1
g00make=$2
count=${3:-2000}
growth=${4:-2048}  # KiB the peak may grow by over the short run's
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sources"

# Twenty distinct pictures (odd ones full-frame photos, even ones region-based sprites), each
# repeated under a hundred names.
mkdir -p "$work/distinct"
for ((n = 0; n < 20; n++)); do
  if ((n % 2)); then kind=photo; else kind=sprite; fi
  "$g00make" --kind $kind --size 96x64 --seed $((n + 1)) "$work/distinct/$n.g00" >/dev/null
done
/usr/bin/python3 -c '
import shutil, sys
distinct, sources, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
for n in range(count):
    shutil.copyfile(f"{distinct}/{n % 20}.g00", f"{sources}/f{n:05}.g00")
' "$work/distinct" "$work/sources" "$count"

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
  [ "$long" -le $((short + growth)) ] ||
    { echo "FAIL (-j $jobs): memory grew from $short KiB to $long KiB"; exit 1; }
done
cmp -s <(cd "$work/out1" && cat *) <(cd "$work/out2" && cat *) ||
  { echo "FAIL: -j 2 wrote other bytes than -j 1"; exit 1; }
