#!/usr/bin/env bash
# Runs the benchmarks; each prints its figures.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] && "$b"
done
"$here/download_bench.sh" "$build"
