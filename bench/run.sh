#!/bin/sh
# Builds the service and the benchmarks in release mode (preset `bench`), runs every
# benchmark and writes bench/results.json and bench/RESULTS.md.
#
#   bench/run.sh [BUILD_DIR]      (default: build/bench under the repository)
#
# Needs port 9089 free (the run waits up to two minutes for it) and Linux.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/bench}

cmake --preset bench -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target linkrelay_bench -j2

table=$(mktemp)
trap 'rm -f "$table"' EXIT
# Every log line of the service under test goes to its own files; the Mux-alone run
# logs to standard error, kept here.
"$build/bin/linkrelay_bench" --json "$here/results.json" --markdown "$table" \
    2>"$build/bench-stderr.log"

{
    cat "$here/results_intro.md"
    echo
    cat "$table"
    echo
    cat "$here/results_analysis.md"
} >"$here/RESULTS.md"
echo "wrote $here/RESULTS.md and $here/results.json"
