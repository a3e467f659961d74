#!/usr/bin/env bash
# The Python package's tests (python/tests) against the programs built in build/ci (or
# LINKRELAY_BIN); pytest's summary line ends the output. scripts/test.sh runs it after
# the build.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps.sh python
export LINKRELAY_BIN=${LINKRELAY_BIN:-$PWD/build/ci/bin}
# Debian's interpreter, which the python3-* packages serve, whatever else is first on PATH.
cd python
/usr/bin/python3 -m pytest -p no:cacheprovider -rfE tests
