#!/usr/bin/env bash
# Checks of the Windows installer (linkrelay-<version>-win64.exe) under Wine, for the
# packages CI leg. Usage: source wine-ci-env.sh; source installer-checks.sh;
# wine_env_init; check_installer INSTALLER CLI, where CLI is a Linux linkrelay-cli that
# asks the installed service for its status on 127.0.0.1:9089.
# Silent install, the service registered and running, a status from it, a silent
# upgrade with /LOCALONLY, a silent uninstall. Each step prints what it checked and the
# first failure ends the check with a non-zero status.
# check_installer_start_failure TEMPLATE FOLDER builds an installer whose service cannot
# start and checks that its silent run fails (exit code 1) and can be uninstalled.
#
# What Wine does differently from Windows here:
# - Wine's sc.exe has no `config` and no `qc`. The installer updates an existing
#   registration with `sc config` and, where that fails, deletes and registers the
#   service again; under Wine the upgrade always takes that second way. These checks read
#   the service's registry key instead of `sc qc`.
# - `sc failure` reports success but Wine keeps no FailureActions and never restarts a
#   failed service: the restart-after-failure actions are not checked here.
# - Wine has no Apps & features: the check is that the uninstall key is there.
# - The installer is a 64-bit program (NSIS's amd64-unicode target): a 32-bit one would
#   need Wine's 32-bit half, which the CI machine does not install.
# As on Windows, uninstall.exe copies itself to a temporary folder and returns at once,
# so the uninstall check waits for its work to show.

installer_service=ZunaBluetoothService
installer_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\linkrelay'

installer_fail() { echo "FAIL: $*" >&2; return 1; }

install_dir() { wine_linux_path 'C:\Program Files\linkrelay'; }

# The service's configuration as the service manager keeps it in the registry (Wine's
# sc.exe has no qc), without CRs.
service_config() {
    wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$installer_service" \
        </dev/null 2>/dev/null | tr -d '\r'
}

# run_installer EXE ARGS...: the installer in silent mode; it ends when it is done.
run_installer() {
    local exe=$1; shift
    timeout 120 wine "$exe" /S "$@" </dev/null >/dev/null 2>&1 ||
        installer_fail "$exe /S $*: exit status $?"
}

# The first status from the service, within 20 s (it listens once its mux thread is up).
expect_status() {
    local cli=$1 out
    for _ in $(seq 1 40); do
        if out=$("$cli" --timeout 2 status 2>/dev/null); then
            echo "  status: $out"
            return 0
        fi
        sleep 0.5
    done
    installer_fail "no status from the service on 127.0.0.1:9089"
}

expect_installed() {
    local dir; dir=$(install_dir)
    local file
    for file in linkrelay.exe linkrelay-cli.exe README.md uninstall.exe; do
        [ -f "$dir/$file" ] || installer_fail "$dir/$file missing" || return 1
    done
    wine reg query "$installer_key" /v UninstallString </dev/null >/dev/null 2>&1 ||
        installer_fail "no Apps & features entry ($installer_key)" || return 1
    wine_service_wait "$installer_service" RUNNING 30 ||
        installer_fail "$installer_service is not running: $(wine_service_state "$installer_service")" ||
        return 1
    local config; config=$(service_config)
    grep -Eq 'Start +REG_DWORD +0x2$' <<<"$config" ||
        installer_fail "not an automatic start:"$'\n'"$config" || return 1
    grep -Eq 'Type +REG_DWORD +0x10$' <<<"$config" ||
        installer_fail "not an own process:"$'\n'"$config"
}

check_installer() {
    local installer=$1 cli=$2
    echo "installer: silent install"
    run_installer "$installer" || return 1
    expect_installed || return 1
    service_config | grep -q -- '--listen' &&
        { installer_fail "the default installation passes --listen"; return 1; }
    expect_status "$cli" || return 1
    "$cli" --host 127.0.0.2 --timeout 2 status >/dev/null 2>&1 ||
        { installer_fail "the default installation does not listen on 127.0.0.2"; return 1; }

    echo "installer: silent upgrade over it, this computer only"
    local logs; logs=$(wine_linux_path 'C:\users\Public\Documents\zevlog')
    local stops_before; stops_before=$(cat "$logs"/zevlog-* 2>/dev/null | grep -c 'service: stopping$' || true)
    run_installer "$installer" /LOCALONLY || return 1
    expect_installed || return 1
    service_config | grep -q -- '--listen 127.0.0.1' ||
        { installer_fail "/LOCALONLY did not reach the service:"$'\n'"$(service_config)"; return 1; }
    local stops_after; stops_after=$(cat "$logs"/zevlog-* 2>/dev/null | tr -d '\r' | grep -c 'service: stopping$' || true)
    [ "$stops_after" -gt "$stops_before" ] ||
        { installer_fail "the upgrade did not stop the running service"; return 1; }
    expect_status "$cli" || return 1
    "$cli" --host 127.0.0.2 --timeout 2 status >/dev/null 2>&1 &&
        { installer_fail "/LOCALONLY: the service still listens on 127.0.0.2"; return 1; }

    echo "installer: silent uninstall"
    uninstall_and_expect_gone || return 1
    echo "installer: checks passed"
}

# The silent uninstaller; then the service is unregistered, the folder empty or gone and
# the uninstall key gone.
uninstall_and_expect_gone() {
    local dir; dir=$(install_dir)
    # The uninstaller copies itself to a temporary folder and returns at once: wait for
    # its work to show.
    timeout 60 wine "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1 || true
    for _ in $(seq 1 120); do
        [ ! -e "$dir" ] && ! wine sc query "$installer_service" </dev/null >/dev/null 2>&1 && break
        sleep 0.5
    done
    wine sc query "$installer_service" </dev/null >/dev/null 2>&1 &&
        { installer_fail "$installer_service is still registered"; return 1; }
    if [ -e "$dir" ] && [ -n "$(ls -A "$dir")" ]; then
        installer_fail "$dir is not empty: $(ls -A "$dir")"
        return 1
    fi
    wine reg query "$installer_key" </dev/null >/dev/null 2>&1 &&
        { installer_fail "the Apps & features entry is still there"; return 1; }
    return 0
}

# check_installer_start_failure TEMPLATE FOLDER: an installer made in FOLDER from the
# installer script TEMPLATE (makensis, with the values CPack would fill in) whose
# linkrelay.exe is an empty file, so that the service cannot start. Its silent run must
# end with exit code 1, not report success, and leave the files, the registration and
# the uninstaller, which then removes everything. Run it with no linkrelay installed.
check_installer_start_failure() {
    local template=$1 folder=$2
    echo "installer: a service that does not start fails the installation"
    rm -rf "$folder"
    mkdir -p "$folder/stage/service/bin" "$folder/stage/service/share/doc/linkrelay"
    local root; root=$(cd "$folder" && pwd)
    : >"$root/stage/service/bin/linkrelay.exe"
    : >"$root/stage/service/bin/linkrelay-cli.exe"
    : >"$root/stage/service/share/doc/linkrelay/README.md"
    sed -e "s|@CPACK_TEMPORARY_DIRECTORY@|$root/stage|g" \
        -e "s|@CPACK_TOPLEVEL_DIRECTORY@|$root|g" \
        -e "s|@CPACK_OUTPUT_FILE_NAME@|start-failure.exe|g" \
        -e "s|@CPACK_NSIS_COMPRESSOR@|zlib|g" \
        -e "s|@CPACK_PACKAGE_VERSION@|0.0.0|g" \
        -e "s|@CPACK_PACKAGE_VENDOR@|linkrelay|g" "$template" >"$root/start-failure.nsi"
    grep -v '^;' "$root/start-failure.nsi" | grep -q '@[A-Z_]*@' &&
        { installer_fail "$template uses a value this check does not fill in"; return 1; }
    makensis -V2 "$root/start-failure.nsi" >/dev/null ||
        { installer_fail "makensis could not build $root/start-failure.nsi"; return 1; }
    local status=0
    timeout 120 wine "$root/start-failure.exe" /S </dev/null >/dev/null 2>&1 || status=$?
    [ "$status" -eq 1 ] ||
        { installer_fail "the installer ended with exit status $status, not 1"; return 1; }
    local dir; dir=$(install_dir)
    [ -f "$dir/uninstall.exe" ] || { installer_fail "$dir/uninstall.exe missing"; return 1; }
    wine reg query "$installer_key" /v UninstallString </dev/null >/dev/null 2>&1 ||
        { installer_fail "no Apps & features entry ($installer_key)"; return 1; }
    local state; state=$(wine_service_state "$installer_service")
    [ "$state" = STOPPED ] ||
        { installer_fail "$installer_service: \"$state\", not registered and stopped"; return 1; }
    uninstall_and_expect_gone || return 1
    echo "installer: start failure check passed"
}
