#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, address and undefined-behaviour
# sanitizers) and runs each one for $FUZZ_SECONDS seconds (default 60), starting from its
# seed corpus in fuzz/corpus/<name>/. Fails when a target finds a crash; the input that
# caused it is left in <build>/fuzz-artifacts/.
# Environment: FUZZ_SECONDS, FUZZ_BUILD_DIR (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps.sh base fuzz

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build/fuzz}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target linkrelay_fuzzers

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
found=0
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    found=1
    name=${target##*/fuzz_}
    seeds=fuzz/corpus/$name
    # New inputs go to a scratch corpus, so that the seeds in the tree stay as committed.
    work=$(mktemp -d)
    echo "fuzzing $name for $seconds s"
    status=0
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "$work" "$seeds" || status=$?
    rm -rf "$work"
    if [ "$status" -ne 0 ]; then
        echo "fuzz target $name failed (exit $status); inputs in $artifacts" >&2
        exit 1
    fi
done
if [ "$found" -eq 0 ]; then
    echo "no fuzz targets found in $build/fuzz" >&2
    exit 1
fi
