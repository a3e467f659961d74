#!/usr/bin/env bash
# Builds linkrelay (the program alone, not the tests) and runs it in the foreground;
# arguments go to the program (for example --simulate). Ctrl+C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh base
cmake --preset default >/dev/null
cmake --build --preset default --target linkrelay
exec build/default/bin/linkrelay "$@"
