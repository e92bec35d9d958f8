#!/usr/bin/env bash
# Runs every benchmark binary of a bench build. Benchmarks never gate CI.
set -euo pipefail
BUILD=${1:-build-bench}
for b in "$BUILD"/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_counters_tabular=true
done
