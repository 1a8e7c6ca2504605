#!/usr/bin/env bash
# Runs every fuzzer of the sanitize build for the given seconds each, one after another, over a
# corpus kept under build/fuzz-corpus so that later runs start from what earlier ones found.
# Findings go to build/fuzz-findings; the run fails when there is any.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=$here/build/sanitize
status=0
for fuzzer in g00_fuzzer c_face_fuzzer selection_fuzzer encode_fuzzer; do
  binary=$build/$fuzzer
  [ -x "$binary" ] || binary=$build/fuzz/$fuzzer
  corpus=$here/build/fuzz-corpus/$fuzzer
  findings=$here/build/fuzz-findings/$fuzzer
  mkdir -p "$corpus" "$findings"
  seeds=()
  case $fuzzer in g00_fuzzer | c_face_fuzzer) [ -d "$build/fuzz/g00-seeds" ] && seeds=("$build/fuzz/g00-seeds") ;; esac
  [ "$fuzzer" = c_face_fuzzer ] && seeds+=("$build"/fuzz/picture-seeds/* "$here/tests/hostile")
  echo "== $fuzzer for $seconds s"
  nice -n 10 "$binary" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=3072 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 |
    grep -E '^(stat::|#[0-9]+ *DONE|==[0-9]+==ERROR|SUMMARY)' || true
  if ls "$findings" | grep -qE '^(crash|leak|timeout|oom)-'; then
    echo "$fuzzer: findings in $findings"; status=1
  fi
done
exit $status
