#!/usr/bin/env bash
# The benchmark once, as a smoke test: a release build, one pass per case in the lab
# (bench/run.sh), the full lab and each flood generator once. It checks that the
# benchmark still runs and that every pass ended cleanly; the figures are printed, not
# judged.
#
#   BENCH_BUILD  build folder (default build-bench)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$repo/build-bench}

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANITE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target corvanite

# What --prometheus adds to a pass, on the test build's benchmark (doc/figures.md).
metrics_bench=$repo/${BUILD_DIR:-build}/bin/corvanite_bench_metrics
if [[ -x $metrics_bench ]]; then
  folder=$(mktemp -d /var/tmp/corvanite-bench.XXXXXX)
  "$metrics_bench" "$folder" 500
  rmdir "$folder"
fi

rc=0
BENCH_TOOL=$build/bin/corvanite BENCH_RUNS=1 \
  BENCH_CASES=${BENCH_CASES:-full bare-flood bare-hellos bare-lookalike bare-flood-v6} \
  "$repo/bench/run.sh" || rc=$?
case $rc in
  0) echo "bench: 1 passed, 0 failed" ;;
  77) echo "bench: skipped (a tool the lab needs is missing)" ;;
  *)
    echo "bench: 0 passed, 1 failed"
    exit 1
    ;;
esac
