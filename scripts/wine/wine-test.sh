#!/usr/bin/env bash
# ctest's runner for the Windows test programs (the mingw build's WINE_EXECUTABLE in the
# Windows leg): runs one program under Wine and passes its output and exit status on.
# Wine's error channel is on, so a program that Wine cannot start or that Wine aborts
# says why in its output; when the program fails, its exit status and what the
# wineserver logged during the run follow, so every failure explains itself.
# Usage: wine-test.sh PROGRAM ARGS...
set -u

export WINEDEBUG=-all,err+all
server_log=${WINE_CI_SERVER_LOG:-/dev/null}
log_start=$(stat -c %s "$server_log" 2>/dev/null || echo 0)

wine "$@" </dev/null
status=$?
if [ "$status" -ne 0 ]; then
    printf 'wine: exit status %d\n' "$status"
    server_lines=$(tail -c +"$((log_start + 1))" "$server_log" 2>/dev/null | head -n 40)
    if [ -n "$server_lines" ]; then
        echo "wineserver log during the run:"
        echo "$server_lines"
    fi
fi
exit "$status"
