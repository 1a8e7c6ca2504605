#!/usr/bin/env bash
# Where the processor time of whole conversions goes, by stage: perf samples (the processor
# clock, which works in a virtual machine without hardware counters) of repeated conversions of
# the comparison's pictures and of its batch, each sample put in the stage of the function it
# fell in. Needs perf (Debian's linux-perf; not installed by tools/setup.sh) and the native
# build.
#
#   bench/profile.sh [BUILD_DIR]      (default build/native)
#   RUNS=N                           conversions of each picture (20)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/native}
runs=${RUNS:-20}
cli=$build/tavimore-cli
command -v perf >/dev/null || { echo "profile: perf is missing (apt-get install linux-perf)" >&2; exit 1; }
for tool in "$cli" "$build/bench-inputs"; do
  [ -x "$tool" ] || { echo "profile: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench-inputs" "$work/in"
mkdir -p "$work/out"

echo "processor time by stage, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
# profile LABEL REPEATS ARGS...: the conversion run REPEATS times under perf, then the table.
profile() {
  local label=$1 repeats=$2
  shift 2
  local args
  printf -v args '%q ' "$@"
  perf record -q -e cpu-clock -F 10000 -o "$work/perf.data" -- \
    bash -c "for ((i = 0; i < $repeats; i++)); do '$cli' -q -o '$work/out' $args; done" >/dev/null 2>&1
  # The program's processor time: the clock event's nanoseconds, its share of them.
  local events share
  events=$(perf report -i "$work/perf.data" --stdio --sort comm 2>/dev/null |
    awk '/Event count/ { print $NF; exit }')
  share=$(perf report -i "$work/perf.data" --stdio --sort comm 2>/dev/null |
    awk '$NF == "tavimore-cli" { sub("%", "", $1); print $1; exit }')
  perf report -i "$work/perf.data" --comm tavimore-cli --sort symbol --stdio \
    --percentage relative 2>/dev/null |
    python3 "$here/bench/profile_stages.py" "$label" \
      "$(awk "BEGIN { print $events * $share / 100 / 1e6 / $repeats }")"
}
profile "G00->PSD sprite" "$runs" "$work/in/picture.g00"
profile "G00->PSD noisy" "$runs" "$work/in/noisy.g00"
profile "G00->BMP sprite" "$runs" --bmp "$work/in/picture.g00"
profile "G00->PNG sprite" "$runs" --png "$work/in/picture.g00"
profile "G00->PNG noisy" "$runs" --png "$work/in/noisy.g00"
profile "500 files to PSD, -j 1" 1 -j 1 "$work"/in/batch/*.g00
profile "500 files to PSD, -j 2" 1 -j 2 "$work"/in/batch/*.g00
