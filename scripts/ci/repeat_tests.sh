#!/usr/bin/env bash
# Runs the tests of a build that already exists over and over, to find tests that fail
# only now and then. Each run's output is kept; at the end one line per failed test is
# printed with its run, its exit status and its first lines of output, then the counts.
# Stops after TIMES runs or MINUTES minutes, whichever comes first; exits 1 if any run
# failed.
# Usage: scripts/ci/repeat_tests.sh [--wine] BUILD_DIR TIMES [MINUTES] [CTEST_ARGUMENT...]
#   --wine  the build is the mingw cross build: its test programs run under Wine in a
#           throwaway prefix, as in the Windows leg (BUILD_DIR configured with
#           -DWINE_EXECUTABLE=scripts/wine/wine-test.sh); ctest runs in this network,
#           as in that leg, where the other legs run it in a network of its own
set -euo pipefail
cd "$(dirname "$0")/../.."

wine=0
runner=(scripts/ci/own_network.sh)
if [ "${1:-}" = --wine ]; then
    wine=1
    runner=()
    shift
fi
build=${1:?build folder}
times=${2:?number of runs}
minutes=${3:-60}
shift $(($# < 3 ? $# : 3))

if [ "$wine" = 1 ]; then
    source scripts/wine/wine-ci-env.sh
    wine_fixed_layout_or_exec "$0" --wine "$build" "$times" "$minutes" "$@"
    trap wine_env_shutdown EXIT
    wine_env_init
fi

logs=$(mktemp -d)
deadline=$((SECONDS + minutes * 60))
runs=0
failed_runs=0
for ((run = 1; run <= times && SECONDS < deadline; run++)); do
    log=$logs/run$run.txt
    started=$SECONDS
    if "${runner[@]}" ctest --test-dir "$build" --output-on-failure -j2 \
        --timeout 300 --no-tests=error "$@" </dev/null >"$log" 2>&1; then
        echo "run $run: passed ($((SECONDS - started)) s)"
    else
        failed_runs=$((failed_runs + 1))
        echo "run $run: FAILED ($((SECONDS - started)) s)"
        grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*[^S]' "$log" | sed 's/^/    /' || true
    fi
    runs=$run
done

echo "failed tests, with what they printed first:"
for log in "$logs"/run*.txt; do
    awk -v run="$(basename "$log" .txt)" '
        /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .*\*\*\*[^S]/ { name = $4; shown = 0; print run ": " $0; next }
        name != "" && shown < 6 && !/^ *[0-9]+\/[0-9]+ Test/ { print "      " $0; shown++ }
        /^ *[0-9]+\/[0-9]+ Test/ { name = "" }
    ' "$log"
done
echo "runs: $runs, failed runs: $failed_runs (logs in $logs)"
[ "$failed_runs" -eq 0 ]
