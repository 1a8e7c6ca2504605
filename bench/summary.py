#!/usr/bin/env python3
"""Prints the stage benchmarks' medians as GB/s (10^9 bytes) and as a ratio to the memcpy of
the same size, from the JSON that tavimore-bench writes with --benchmark_out."""
import json
import sys

# Stages shown apart, in MB/s with the stream's size beside the greedy encoder's.
ENCODERS = ("encodeLzPixels", "encodeLzBytes", "encodeLzPixels2", "encodeLzBytes2")


def main(path):
    with open(path) as f:
        report = json.load(f)
    medians, packed = {}, {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name", "median") != "median" or "bytes_per_second" not in b:
            continue
        stage, kind, size = b["run_name"].split("/")[:3]
        medians[(stage, kind, size)] = b["bytes_per_second"]
        if "packed" in b:
            packed[(stage, kind, size)] = (b["packed"], b["greedy"])

    memcpy = {size: rate for (stage, _, size), rate in medians.items() if stage == "memcpy"}
    stages, kinds, sizes = [], [], []
    for stage, kind, size in medians:
        for value, seen in ((stage, stages), (kind, kinds), (size, sizes)):
            if value not in seen:
                seen.append(value)
    kinds = [k for k in kinds if k != "-"]
    stages = [s for s in stages if s != "memcpy" and s not in ENCODERS]

    context = report.get("context", {})
    print(f"stage medians of {context.get('num_cpus', '?')} CPUs at "
          f"{context.get('mhz_per_cpu', '?')} MHz, load average "
          f"{', '.join(f'{v:.2f}' for v in context.get('load_avg', []))} at the start")
    for size in sizes:
        if size not in memcpy or not stages:
            continue
        print(f"\n{size}: memcpy {memcpy[size] / 1e9:.2f} GB/s; each cell GB/s (ratio to memcpy)")
        print(f"{'stage':<16}" + "".join(f"{k:>18}" for k in kinds))
        for stage in stages:
            cells = []
            for kind in kinds:
                rate = medians.get((stage, kind, size))
                cells.append(f"{rate / 1e9:8.2f} ({rate / memcpy[size]:.2f})" if rate else "-")
            print(f"{stage:<16}" + "".join(f"{c:>18}" for c in cells))

    if packed:
        print("\nLZ compressors: MB/s of input; stream bytes against the greedy encoder's")
        for (stage, kind, size), (length, greedy) in packed.items():
            rate = medians[(stage, kind, size)]
            print(f"  {stage:<16} {kind:<8} {size:<10} {rate / 1e6:7.1f} MB/s  "
                  f"{length:>10.0f} against {greedy:>10.0f} ({(1 - length / greedy) * 100:.1f}% smaller)")


if __name__ == "__main__":
    main(sys.argv[1])
