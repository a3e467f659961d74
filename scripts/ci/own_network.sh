#!/usr/bin/env bash
# Runs a command in a network namespace of its own with only loopback up, so that the
# tests that bind port 9089 never meet another program (or another test run) that holds
# it on this machine. Without the rights to make a namespace the command runs as it is.
# Usage: scripts/ci/own_network.sh COMMAND [ARGUMENT...]
set -euo pipefail
if [ "$(id -u)" -eq 0 ] && unshare --net true 2>/dev/null; then
    exec unshare --net bash -c 'ip link set lo up && exec "$@"' own_network "$@"
fi
exec "$@"
