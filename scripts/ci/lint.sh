#!/usr/bin/env bash
# The lint leg: every C++ file of the repository must be as clang-format would write it,
# and clang-tidy (checks in .clang-tidy) must find nothing in the code of the service,
# the simulator, the client library and the tools. Uses the compile commands of the ci
# build, which it configures and builds (generated headers included) when missing.
# Build folder: $LINT_BUILD, default build/ci.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps.sh base lint

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror "${sources[@]}"
echo "lint: ${#sources[@]} files formatted"

build=${LINT_BUILD:-build/ci}
if [ ! -f "$build/compile_commands.json" ]; then
    cmake --preset ci >/dev/null
fi
cmake --build "$build" -j2
report="$build/clang-tidy.log"
# The files the Linux build compiles; the Windows-only ones are checked by the compiler of
# the windows leg.
/usr/bin/python3 -c '
import json, os, re, sys
for entry in json.load(open(sys.argv[1])):
    name = os.path.relpath(entry["file"], sys.argv[2])
    if re.match(r"(src|sim|client|tools)/.*\.cpp$", name):
        print(entry["file"])
' "$build/compile_commands.json" "$(pwd)" | sort -u |
    xargs -P 2 -n 8 clang-tidy -p "$build" --quiet >"$report" 2>/dev/null || true
if grep -E ': (warning|error): ' "$report" | sort -u | grep .; then
    echo "lint: clang-tidy findings above (whole report: $report)"
    exit 1
fi
echo "lint: clang-tidy clean"
