#!/usr/bin/env bash
# The layering leg: every project include of each folder must name a folder that the
# folder may depend on. Dependencies go one way:
#   service -> mux -> conduit interface (conduit.h, event_sink.h) -> gob -> base
#   conduit/bg -> conduit/bgapi, conduit/serial, gob, log, base   (never mux or service)
#   net, log -> base
# conduit/serial may use sim/: the simulated dongle is a port source like the real ports.
# The build stamp (service/build_info.h, library linkrelay_commit) is for every program.
# Fails, naming each file and include, when a lower layer includes a higher one.
set -euo pipefail
cd "$(dirname "$0")/../.."

broken=0

# check FOLDER DEPTH ALLOWED...: the includes of the files directly in FOLDER (DEPTH 1) or
# anywhere below it (DEPTH all) must start with one of the ALLOWED prefixes.
check() {
    local folder=$1 depth=$2
    shift 2
    local find_depth=()
    if [ "$depth" = 1 ]; then
        find_depth=(-maxdepth 1)
    fi
    local file include allowed ok
    while IFS= read -r file; do
        while IFS= read -r include; do
            ok=0
            for allowed in "$@"; do
                case $include in
                "$allowed"*) ok=1 ;;
                esac
            done
            if [ $ok = 0 ]; then
                echo "layering: $file includes \"$include\", which $folder may not use"
                broken=1
            fi
        done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
    done < <(find "$folder" "${find_depth[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
}

check src/base all base/
check src/log all log/ base/
check src/net all net/ log/ base/
check src/gob all gob/ log/ base/
check src/conduit 1 conduit/conduit.h conduit/event_sink.h gob/ base/
check src/conduit/bgapi all conduit/bgapi/ log/ base/
check src/conduit/serial all conduit/serial/ sim/ log/ base/
check src/conduit/bg all conduit/ gob/ log/ base/
check src/mux all mux/ conduit/conduit.h conduit/event_sink.h gob/ net/ log/ base/
check src/service all service/ mux/ conduit/ gob/ net/ log/ base/
check sim all sim/
check client all linkrelay/ gob/
check tools all tools/ linkrelay/ gob/ service/build_info.h

if [ $broken != 0 ]; then
    exit 1
fi
echo "layering: every include goes down"
