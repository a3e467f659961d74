#!/usr/bin/env bash
# Headless Wine environment for running cross-compiled Windows test binaries in CI.
# Usage:  source wine-ci-env.sh; wine_env_init; ...; wine_env_shutdown
# Needs: wine64 + wine (Debian 12: apt-get install -y --no-install-recommends wine64 wine), python3.
# Every function is safe to run as root without a display.

# Debian's Wine runs without its preloader, so nothing reserves the fixed addresses Wine
# needs before the kernel places the loader's own mappings. With address-space layout
# randomisation on, about one Wine process in 1,500 finds the shared user data page taken
# and ends at once with status 1 ("failed to map the shared user data: c0000018", which
# WINEDEBUG=-all hides). Every Wine process of a leg therefore runs with a fixed layout:
# a leg re-runs itself under setarch with wine_fixed_layout_or_exec "$0" "$@".
wine_layout_fixed() {
    local personality
    personality=$(cat /proc/self/personality 2>/dev/null) || return 1
    (( 0x$personality & 0x0040000 ))   # ADDR_NO_RANDOMIZE, inherited by every child
}
wine_fixed_layout_or_exec() {    # SCRIPT ARGS...: returns only when already fixed
    wine_layout_fixed || exec setarch "$(uname -m)" --addr-no-randomize "$@"
}

# Fresh prefix in a temp dir unless WINEPREFIX is already set.
wine_env_init() {
    if ! wine_layout_fixed; then
        echo "wine_env_init: run under a fixed address-space layout (wine_fixed_layout_or_exec)" >&2
        return 1
    fi
    export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono/Gecko prompts
    unset DISPLAY WAYLAND_DISPLAY
    if [ -z "${WINEPREFIX:-}" ]; then
        WINE_CI_TMP=$(mktemp -d); export WINE_CI_TMP
        export WINEPREFIX="$WINE_CI_TMP/prefix"
    fi
    local log_dir=${WINE_CI_LOG_DIR:-${WINE_CI_TMP:-$WINEPREFIX/..}}
    export WINE_CI_SERVER_LOG="$log_dir/wineserver.log"
    # 1) create the prefix (about 3 s, about 700 MB: Wine 8 copies its PE DLLs into it)
    wineboot -i </dev/null >/dev/null 2>&1 || return 1
    # 2) "null" graphics driver: CreateWindowExW + message loops work without X/xvfb
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 || return 1
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    # 3) persistent wineserver whose stdout/stderr are NOT the caller's: Wine's background
    #    processes (services.exe, explorer, winedevice, rpcss) inherit the stdio of whoever
    #    starts them, so `wine x.exe | tee` or ctest would otherwise hang until they exit.
    wineserver -p </dev/null >>"$WINE_CI_SERVER_LOG" 2>&1 || return 1
    wine wineboot </dev/null >/dev/null 2>&1          # starts services with /dev/null stdio
}

# wine_map_com COM7 /path/to/tty   -> \\.\COM7 opens that Linux tty (pty, ttyUSB, ...)
wine_map_com() {
    local com=${1,,} dev=$2
    ln -sfn "$dev" "$WINEPREFIX/dosdevices/$com"
}
wine_unmap_com() { rm -f "$WINEPREFIX/dosdevices/${1,,}"; }

# wine_add_port_device COM7 ["Friendly Name (COM7)"] [instance]
# Makes SetupDiGetClassDevs(GUID_DEVCLASS_PORTS, DIGCF_PRESENT) report a device whose
# SPDRP_FRIENDLYNAME is the given name and whose device key holds PortName.
wine_add_port_device() {
    local com=${1^^} name=${2:-"Bluegiga Bluetooth Low Energy (${1^^})"} inst=${3:-1}
    local k="HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_2458&PID_0001\\$inst"
    { wine reg add "$k" /v ClassGUID /d '{4d36e978-e325-11ce-bfc1-08002be10318}' /f &&
      wine reg add "$k" /v Class /d Ports /f &&
      wine reg add "$k" /v FriendlyName /d "$name" /f &&
      wine reg add "$k" /v HardwareID /t REG_MULTI_SZ /d 'USB\VID_2458&PID_0001' /f &&
      wine reg add "$k\\Device Parameters" /v PortName /d "$com" /f; } </dev/null >/dev/null 2>&1
}
wine_remove_port_device() {
    wine reg delete "HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_2458&PID_0001\\${1:-1}" /f </dev/null >/dev/null 2>&1
}

# Services. The binary path is converted with winepath (Z:\... path to the Linux file).
wine_service_install() {   # NAME /linux/path/to/svc.exe [args...]
    local name=$1 exe; exe=$(winepath -w "$2" 2>/dev/null); shift 2
    wine sc create "$name" binPath= "\"$exe\"${*:+ $*}" start= demand </dev/null >/dev/null 2>&1
}
wine_service_state() {     # prints RUNNING / STOPPED / START_PENDING / ...
    wine sc query "$1" </dev/null 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'   # sc prints CRLF
}
wine_service_wait() {      # NAME STATE [timeout_s]
    local i; for ((i = 0; i < ${3:-10} * 10; i++)); do
        [ "$(wine_service_state "$1")" = "$2" ] && return 0; sleep 0.1; done; return 1
}
wine_service_start()  { wine sc start "$1" </dev/null >/dev/null 2>&1; wine_service_wait "$1" RUNNING "${2:-10}"; }
wine_service_stop()   { wine sc stop  "$1" </dev/null >/dev/null 2>&1; wine_service_wait "$1" STOPPED "${2:-10}"; }
wine_service_delete() { wine sc delete "$1" </dev/null >/dev/null 2>&1; }

# Linux path of a Windows path inside the prefix, e.g. the public documents folder:
#   wine_linux_path 'C:\users\Public\Documents'
wine_linux_path() { winepath -u "$1" 2>/dev/null; }

wine_env_shutdown() {
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    if [ -n "${WINE_CI_TMP:-}" ] && [ "${WINE_CI_KEEP:-0}" != 1 ]; then rm -rf "$WINE_CI_TMP"; fi
}
