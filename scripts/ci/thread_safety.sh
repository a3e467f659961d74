#!/usr/bin/env bash
# The thread-safety leg: the service's libraries built with clang and
# -Wthread-safety -Werror=thread-safety, so that a guarded member used without its lock,
# or a function that needs a lock called without it, fails the build (Clang's other
# warnings are not this leg's business). Then the leg proves it can fail: the deliberate
# violation in tests/thread_safety/violation.cpp must not compile, and must fail for that
# reason.
# Build folder: $THREAD_SAFETY_BUILD, default build/thread-safety.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps.sh base fuzz

build=${THREAD_SAFETY_BUILD:-build/thread-safety}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DLINKRELAY_TESTS=OFF -DLINKRELAY_WERROR=OFF -DLINKRELAY_THREAD_SAFETY_ANALYSIS=ON \
    -DCMAKE_CXX_FLAGS_DEBUG="-O0" >/dev/null
cmake --build "$build" -j2 --target linkrelay_service

if cmake --build "$build" --target thread_safety_violation >"$build/violation.log" 2>&1; then
    echo "thread-safety: the deliberate violation compiled; the analysis is not on"
    exit 1
fi
if ! grep -q 'Wthread-safety' "$build/violation.log"; then
    cat "$build/violation.log"
    echo "thread-safety: the deliberate violation failed for another reason"
    exit 1
fi
echo "thread-safety: clean, and the deliberate violation is refused"
