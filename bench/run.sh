#!/usr/bin/env bash
# Runs the benchmarks; each prints its figures.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
# Window benchmarks need no screen.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] && "$b"
done
"$here/download_bench.sh" "$build"
"$here/throughput_bench.sh" "$build"
"$here/harvest_page_bench.sh" "$build"
