#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: the C++ tests, then the
# Python package's.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh base
cmake --preset ci >/dev/null
cmake --build --preset ci
scripts/ci/own_network.sh ctest --preset ci
scripts/ci/own_network.sh scripts/ci/python.sh
