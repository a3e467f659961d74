#!/usr/bin/env bash
# The real linkrelay.exe under Wine's service manager with a dongle: a fake Ports-class
# device named "Bluegiga Bluetooth Low Energy (COM7)" for SetupDi, COM7 mapped to the
# pseudo-terminal of a simulated dongle (the Linux linkrelay-sim), and the Linux
# linkrelay-cli as the TCP client.
# Usage: source wine-ci-env.sh; source service-checks.sh; source dongle-checks.sh;
#   wine_env_init; check_dongle_service_run EXE SIM CLI
# Wine wakes a kicked reader only at its read timeout, so each step may take a second.

# expect_conduit_lines FILE LINE...: the lines appear in FILE in this order. Unlike
# expect_log it allows the unstamped continuation lines of hex dumps (clients, addresses).
expect_conduit_lines() {
    local file=$1; shift
    local wanted=("$@") next=0 line
    while IFS= read -r line; do
        if [ $next -lt ${#wanted[@]} ] && [ "$line" = "${wanted[$next]}" ]; then
            next=$((next + 1))
        fi
    done < <(log_messages "$file")
    [ $next -eq ${#wanted[@]} ] ||
        fail "$file: missing or out of order: \"${wanted[$next]}\""$'\n'"$(log_messages "$file")"
}

# check_dongle_service_run EXE SIM CLI: the service finds the dongle through SetupDi,
# resets it, becomes ready, and serves a client its status and a scan.
check_dongle_service_run() {
    local exe=$1 sim=$2 cli=$3 folder sim_pid file status scan i
    folder=$(mktemp -d)
    "$sim" --link "$folder/dongle.tty" --control "$folder/dongle.control" \
        </dev/null >"$folder/sim.log" 2>&1 &
    sim_pid=$!
    for ((i = 0; i < 100; i++)); do
        [ -e "$folder/dongle.tty" ] && break
        sleep 0.1
    done
    [ -e "$folder/dongle.tty" ] || { kill "$sim_pid"; fail "linkrelay-sim did not start"; return 1; }
    wine_map_com COM7 "$folder/dongle.tty"
    wine_add_port_device COM7 || { kill "$sim_pid"; fail "could not add the port device"; return 1; }

    clear_logs
    wine_service_install "$service_name" "$exe" || { kill "$sim_pid"; fail "sc create"; return 1; }
    wine_service_start "$service_name" 10 || { kill "$sim_pid"; fail "service did not start"; return 1; }
    if ! await_log_line "BG conduit: ready"; then
        wine_service_stop "$service_name"; wine_service_delete "$service_name"; kill "$sim_pid"
        fail "the service never became ready"$'\n'"$(log_messages "$(run_log_file)")"
        return 1
    fi
    echo "service ready on COM7"

    status=$("$cli" --json --timeout 10 status 2>&1) || true
    scan=$("$cli" --timeout 10 scan --seconds 5 --all 2>&1) || true
    wine_service_stop "$service_name" 30 || { kill "$sim_pid"; fail "service did not stop"; return 1; }
    wine_service_delete "$service_name"
    kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
    wine_unmap_com COM7
    wine_remove_port_device

    file=$(run_log_file)
    grep -q '"state": *0\|"conduitState": *0\|ready' <<<"$status" ||
        { fail "status was not ready: $status"; return 1; }
    echo "status: $status"
    grep -q 'C4:7C:8D:6A:12:01' <<<"$scan" ||
        { fail "the scan did not find the simulated heart-rate monitor: $scan"; return 1; }
    echo "scan found the simulated peripherals"
    expect_conduit_lines "$file" "BG conduit: initing" "BG conduit: finding serial port" \
        "BG conduit: opening serial port" "BG conduit: resetting" \
        "BG conduit: opening serial port" "BG conduit: setting scan parameters" \
        "BG conduit: ready" "service: stopping" || return 1
    rm -rf "$folder"
    echo "dongle run: found through SetupDi, reset, ready, status and scan served"
}
