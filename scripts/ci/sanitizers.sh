#!/usr/bin/env bash
# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded
# tests (label "threaded") under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps.sh base
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for preset in asan tsan; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset
    scripts/ci/own_network.sh ctest --preset $preset
done
