#!/usr/bin/env bash
# The benchmarks' build: the `bench` preset (Release, benchmarks on, no tests) and its one
# program with the two it starts, so that a change that breaks the benchmarks fails CI.
# Nothing is run: bench/run.sh does that on a quiet machine.
# Build folder: $LINKRELAY_BENCH_BUILD, default build/bench.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${LINKRELAY_BENCH_BUILD:-build/bench}
scripts/deps.sh base
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" -j2 --target linkrelay_bench
