#!/usr/bin/env bash
# The client package leg: installs the client library's development files (component
# "client") into a temporary prefix, checks that each installed header compiles on its
# own, builds examples/ against the installed package through find_package, and runs
# scan_nearby against the service on its simulated dongle on a free loopback port.
# Build folder: $LINKRELAY_CLIENT_BUILD, default build/ci (the test leg's).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${LINKRELAY_CLIENT_BUILD:-build/ci}

fail() { echo "FAIL: $*" >&2; exit 1; }

scripts/deps.sh base
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset ci -B "$build" >/dev/null
fi
cmake --build "$build" -j2 --target linkrelay_client linkrelay

work=$(mktemp -d)
service_pid=""
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

prefix=$work/prefix
cmake --install "$build" --component client --prefix "$prefix" >/dev/null
echo "client package: installed files"
(cd "$prefix" && find . -type f | sort)

for header in "$prefix"/include/linkrelay/*.h "$prefix"/include/linkrelay/gob/*.h; do
    echo "#include <${header#"$prefix/include/"}>" |
        g++ -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -x c++ \
            -I "$prefix/include" -I "$prefix/include/linkrelay" - ||
        fail "${header#"$prefix/"} does not compile on its own"
done

cmake -S examples -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$work/examples"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/logs"
LOGS_DIRECTORY=$work/logs "$build/bin/linkrelay" --simulate --listen "127.0.0.1:$port" \
    >/dev/null 2>&1 </dev/null &
service_pid=$!

# The service may need a moment before it accepts connections.
found=1
for _ in $(seq 1 20); do
    if timeout 30 "$work/examples/scan_nearby" 127.0.0.1 "$port" >"$work/scan.txt" 2>&1; then
        found=0
        break
    fi
    sleep 0.5
done
cat "$work/scan.txt"
[ $found -eq 0 ] || fail "scan_nearby did not complete a scan on 127.0.0.1:$port"
grep -qE '^([0-9A-F]{2}:){5}[0-9A-F]{2}  rssi -?[0-9]+ dBm' "$work/scan.txt" ||
    fail "scan_nearby found no device on the simulated dongle"
echo "client package leg passed"
