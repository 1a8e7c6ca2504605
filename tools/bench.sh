#!/usr/bin/env bash
# make bench: the stage benchmarks, then the whole-process comparison, on the native build.
# Results are kept in BUILD_DIR/bench-results (stages.json, stages.txt, compare.txt).
#
#   tools/bench.sh [BUILD_DIR]    (default build/native)
#   BENCH_REPETITIONS=N           repetitions of each stage benchmark (5); medians are shown
#   BENCH_FILTER=REGEX            only the stage benchmarks whose names match
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/native}
results=$build/bench-results
mkdir -p "$results"

if [ ! -x "$build/tavimore-bench" ]; then
  echo "bench: $build/tavimore-bench is missing (the native build makes it)" >&2
  exit 1
fi

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores;" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/tavimore-bench" \
  --benchmark_filter="${BENCH_FILTER:-.}" \
  --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_min_time=0.2 \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$results/stages.json" --benchmark_out_format=json >"$results/stages.txt" 2>&1
python3 "$here/bench/summary.py" "$results/stages.json"
echo
"$here/bench/compare.sh" "$build" | tee "$results/compare.txt"
