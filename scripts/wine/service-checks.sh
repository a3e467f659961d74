#!/usr/bin/env bash
# Checks of the real linkrelay.exe under Wine, for the Windows CI leg.
# Usage: source wine-ci-env.sh; source service-checks.sh; wine_env_init; then
#   check_service_run EXE            sc create/start/stop/delete, states and log lines
#   check_console_run EXE            --console, Ctrl+C (SIGINT) as the stop control
#   check_install_script CMD EXE     packaging/windows install and remove
# Each prints what it checked and returns non-zero on the first failure. They are meant
# for a throwaway prefix: each empties the prefix's log folder before its run.

service_name=ZunaBluetoothService

# The service's own lines of a normal run, in order; other lines may fall between them.
service_run_lines=(
    "service: registering"
    "service: starting"
    "service: running"
    "service: starting linkrelay"
    "service: waiting for stop"
    "service: serviceCtrlHandler handling shutdown or stop"
    "service: stopping linkrelay"
    "service: stop pending"
    "service: stopping"
)

fail() { echo "FAIL: $*" >&2; return 1; }

# Messages of a log (file or captured standard error) without the time prefix and CR;
# a line without a well-formed prefix comes out as "BAD PREFIX: ...".
log_messages() {
    tr -d '\r' <"$1" | sed -e 's/^[0-9]\{4\}-[0-9]\{2\}-[0-9]\{2\} [0-9]\{2\}:[0-9]\{2\}:[0-9]\{2\}\.[0-9]\{3\} //;t' \
                           -e 's/^/BAD PREFIX: /'
}

# expect_log FILE LINE...: the lines appear in FILE in this order, the last one is the
# last line of FILE, and every line has the time prefix.
expect_log() {
    local file=$1; shift
    local messages; messages=$(log_messages "$file")
    if grep -q '^BAD PREFIX: ' <<<"$messages"; then
        fail "$file: lines without the time prefix:"$'\n'"$(grep '^BAD PREFIX: ' <<<"$messages")"
        return 1
    fi
    local wanted=("$@") next=0 line
    while IFS= read -r line; do
        if [ $next -lt ${#wanted[@]} ] && [ "$line" = "${wanted[$next]}" ]; then
            next=$((next + 1))
        fi
    done <<<"$messages"
    if [ $next -lt ${#wanted[@]} ]; then
        fail "$file: missing or out of order: \"${wanted[$next]}\""$'\n'"$messages"
        return 1
    fi
    [ "$(tail -n 1 <<<"$messages")" = "${wanted[-1]}" ] ||
        fail "$file: last line is not \"${wanted[-1]}\""$'\n'"$messages"
}

log_folder() { wine_linux_path 'C:\users\Public\Documents\zevlog'; }

# state_rank STATE: the place of a state in a start-to-stop run.
state_rank() {
    case $1 in
    START_PENDING) echo 1 ;; RUNNING) echo 2 ;; STOP_PENDING) echo 3 ;; STOPPED) echo 4 ;;
    *) echo 0 ;;
    esac
}

# States a `sc start` / `sc stop` printed (the status the service reported last).
printed_state() { tr -d '\r' | awk '/STATE/ {print $4}'; }

# poll_states UNTIL: sc query every ~0.1 s until the state is UNTIL (at most 30 s);
# prints each state seen.
poll_states() {
    local state i
    for ((i = 0; i < 300; i++)); do
        state=$(wine_service_state "$service_name")
        echo "$state"
        [ "$state" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# The states seen must go START_PENDING -> RUNNING -> STOP_PENDING -> STOPPED without
# going back; RUNNING, STOP_PENDING and STOPPED must each be seen (START_PENDING lasts
# too short for polling to see it every time).
check_state_sequence() {
    local seen=("$@") rank=0 state r
    for state in "${seen[@]}"; do
        r=$(state_rank "$state")
        [ "$r" -gt 0 ] || { fail "unexpected state $state in: ${seen[*]}"; return 1; }
        [ "$r" -ge "$rank" ] || { fail "state went back to $state in: ${seen[*]}"; return 1; }
        rank=$r
    done
    for state in RUNNING STOP_PENDING STOPPED; do
        [[ " ${seen[*]} " == *" $state "* ]] || { fail "never saw $state in: ${seen[*]}"; return 1; }
    done
    echo "states seen: $(printf '%s\n' "${seen[@]}" | uniq | tr '\n' ' ')"
}

# The log file of the run under check: clear_logs empties the log folder before a run,
# so the run's file is the only one (two starts within one second share a file).
clear_logs() { rm -f "$(log_folder)"/zevlog-*.txt; }
run_log_file() { ls -1 "$(log_folder)"/zevlog-*.txt 2>/dev/null | tail -n 1; }

# await_log_line TEXT: waits (at most 30 s) until the run's log file holds TEXT.
await_log_line() {
    local i file
    for ((i = 0; i < 300; i++)); do
        file=$(run_log_file)
        [ -n "$file" ] && grep -q "$1" "$file" && return 0
        sleep 0.1
    done
    return 1
}

check_service_run() {
    local exe=$1 states seen=() file
    clear_logs
    wine_service_install "$service_name" "$exe" || { fail "sc create"; return 1; }
    states=$(wine sc start "$service_name" </dev/null 2>/dev/null | printed_state)
    seen+=($states)
    states=$(poll_states RUNNING) || { fail "service did not reach RUNNING: ${seen[*]} $states"; return 1; }
    seen+=($states)
    echo "service running"
    # Stop it once its steps wait for the stop, so that the run is the normal one.
    await_log_line "service: waiting for stop" ||
        { fail "service never waited for stop"; return 1; }
    states=$(wine sc stop "$service_name" </dev/null 2>/dev/null | printed_state)
    seen+=($states)
    states=$(poll_states STOPPED) || { fail "service did not reach STOPPED: ${seen[*]} $states"; return 1; }
    seen+=($states)
    echo "service stopped"
    wine_service_delete "$service_name"
    [ -z "$(wine_service_state "$service_name")" ] || { fail "service still registered"; return 1; }
    check_state_sequence "${seen[@]}" || return 1

    file=$(run_log_file)
    [ -n "$file" ] || { fail "no log file in $(log_folder)"; return 1; }
    expect_log "$file" "service: calling StartServiceCtrlDispatcher" "${service_run_lines[@]}" || return 1
    echo "log file $(basename "$file"): service lines in order, last line \"service: stopping\""
}

# Waits (at most 30 s) for process PID to end; kills it and fails when it does not.
await_exit() {
    local pid=$1 i
    for ((i = 0; i < 300; i++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    fail "process $pid did not end"
}

check_console_run() {
    local exe=$1 output pid status file i
    clear_logs
    output=$(mktemp)
    wine "$exe" --console </dev/null >"$output" 2>&1 &
    pid=$!
    for ((i = 0; i < 300; i++)); do
        grep -q 'service: waiting for stop' "$output" && break
        sleep 0.1
    done
    grep -q 'service: waiting for stop' "$output" || { kill -KILL $pid; fail "console run did not start"; return 1; }
    # Wine turns SIGINT into the console's Ctrl+C event.
    kill -INT $pid
    await_exit $pid || return 1
    status=0; wait $pid || status=$?
    [ $status -eq 0 ] || { fail "console run exited with $status"; return 1; }
    expect_log "$output" "service: running in the console, Ctrl+C stops" "${service_run_lines[@]}" || return 1
    file=$(run_log_file)
    [ -n "$file" ] || { fail "console run wrote no log file"; return 1; }
    cmp -s "$output" "$file" || { fail "console output and log file differ"; diff "$output" "$file"; return 1; }
    rm -f "$output"
    echo "console run: Ctrl+C stopped it, exit 0, standard error equal to $(basename "$file")"
}

check_install_script() {
    local script=$1 exe=$2 folder
    # The script installs linkrelay.exe from its own folder, as a user would run it.
    folder=$(mktemp -d)
    cp "$script" "$exe" "$folder/"
    wine cmd /c "$(winepath -w "$folder/$(basename "$script")")" install </dev/null >/dev/null 2>&1 ||
        { fail "install script failed"; return 1; }
    wine_service_wait "$service_name" RUNNING 10 || { fail "installed service is not running"; return 1; }
    wine cmd /c "$(winepath -w "$folder/$(basename "$script")")" remove </dev/null >/dev/null 2>&1 ||
        { fail "remove script failed"; return 1; }
    [ -z "$(wine_service_state "$service_name")" ] || { fail "service still registered after remove"; return 1; }
    rm -rf "$folder"
    echo "install script: registered and started the service; remove stopped and deleted it"
}
