#!/usr/bin/env bash
# Runs the benchmarks; each prints its figures.
set -euo pipefail
build=${1:-build}
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] && "$b"
done
