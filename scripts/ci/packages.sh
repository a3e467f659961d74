#!/usr/bin/env bash
# The packages leg: builds the Debian package and the Windows installer and tests both.
#   .deb: lintian without errors; dpkg -i installs every file, enables the unit (without
#         a running systemd nothing is started and nothing fails); the installed programs
#         print the version and serve a status; dpkg -r and dpkg -P remove what they
#         should; a reinstall and an install over itself work.
#   .exe: under Wine, silent install, service running, a status on port 9089, silent
#         upgrade (/LOCALONLY), silent uninstall; an installer whose service cannot
#         start ends with exit code 1 (scripts/wine/installer-checks.sh).
# The packages are made from the test leg's build/ci ($LINKRELAY_DEB_BUILD) and the
# Windows leg's build/mingw ($LINKRELAY_MINGW_BUILD), so the leg adds no second build.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine/wine-ci-env.sh
wine_fixed_layout_or_exec "$0" "$@"
version=$(sed -n 's/^project(linkrelay VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
deb=build/packages/linkrelay_${version}_${arch}.deb
exe=build/packages/linkrelay-${version}-win64.exe
unit=ZunaBluetoothService.service
files=(
    /usr/bin/linkrelay
    /usr/bin/linkrelay-cli
    /usr/bin/linkrelay-sim
    "/lib/systemd/system/$unit"
    /lib/udev/rules.d/60-linkrelay-dongle.rules
    /usr/share/doc/linkrelay/README.md
    /usr/share/doc/linkrelay/copyright
    /usr/share/doc/linkrelay/changelog.gz
)
wants=/etc/systemd/system/multi-user.target.wants/$unit

fail() { echo "FAIL: $*" >&2; exit 1; }

status_of() { dpkg-query -W -f='${db:Status-Abbrev}' linkrelay 2>/dev/null || true; }

expect_files() {
    local file
    for file in "${files[@]}"; do
        [ -f "$file" ] || fail "$file not installed"
    done
    grep -qx 'ExecStart=/usr/bin/linkrelay' /lib/systemd/system/$unit ||
        fail "the unit's ExecStart is not /usr/bin/linkrelay"
    if command -v deb-systemd-helper >/dev/null; then
        [ -L "$wants" ] || fail "the unit is not enabled ($wants missing)"
    fi
}

expect_removed() {
    local file
    for file in "${files[@]}"; do
        [ ! -e "$file" ] || fail "$file left after dpkg $1"
    done
}

# The installed service on a free loopback port, asked for its status by the
# installed client.
expect_service_runs() {
    local logs; logs=$(mktemp -d)
    LOGS_DIRECTORY=$logs /usr/bin/linkrelay --simulate --listen 127.0.0.1:19089 \
        >/dev/null 2>&1 </dev/null &
    local pid=$!
    local ok=1
    for _ in $(seq 1 40); do
        if /usr/bin/linkrelay-cli --port 19089 --timeout 2 status >/dev/null 2>&1; then
            ok=0
            break
        fi
        sleep 0.5
    done
    kill "$pid"
    wait "$pid" || true
    rm -rf "$logs"
    [ $ok -eq 0 ] || fail "the installed service gave no status on 127.0.0.1:19089"
}

check_deb() {
    echo "deb: lintian"
    lintian --fail-on error --suppress-tags no-manual-page "$deb"
    [ "$(status_of)" = "" ] || [ "$(status_of)" = "un " ] || fail "linkrelay is installed already"

    echo "deb: install"
    dpkg -i "$deb"
    expect_files
    /usr/bin/linkrelay --version | grep -qx "linkrelay $version ([0-9a-f]\{10\})" ||
        fail "linkrelay --version: $(/usr/bin/linkrelay --version)"
    /usr/bin/linkrelay-cli --version | grep -qx "linkrelay $version ([0-9a-f]\{10\})" ||
        fail "linkrelay-cli --version: $(/usr/bin/linkrelay-cli --version)"
    local newest; newest=$(zcat /usr/share/doc/linkrelay/changelog.gz | sed -n 1p)
    [[ $newest == "linkrelay ($version) "* ]] ||
        fail "the changelog's newest entry is not $version: $newest"
    expect_service_runs

    echo "deb: install over itself (an upgrade's path)"
    dpkg -i "$deb"
    expect_files

    echo "deb: remove"
    dpkg -r linkrelay
    expect_removed "-r"
    # As with debhelper's scripts, the enablement stays until a purge, so that a
    # reinstall keeps the administrator's choice.

    echo "deb: reinstall, then purge"
    dpkg -i "$deb"
    expect_files
    dpkg -P linkrelay
    expect_removed "-P"
    [ -z "$(status_of | tr -d ' ')" ] || [ "$(status_of)" = "un " ] ||
        fail "dpkg -P left the package as \"$(status_of)\""
    [ ! -L "$wants" ] || fail "the unit is still enabled after dpkg -P"
    [ ! -e /var/lib/systemd/deb-systemd-helper-enabled/$unit.dsh-also ] ||
        fail "dpkg -P left the unit's enablement state"
    echo "deb: checks passed"
}

scripts/deps.sh base windows package
export LINKRELAY_DEB_BUILD=${LINKRELAY_DEB_BUILD:-build/ci}
scripts/package.sh deb
check_deb

LINKRELAY_MINGW_BUILD=${LINKRELAY_MINGW_BUILD:-build/mingw} scripts/package.sh windows
source scripts/wine/installer-checks.sh
trap wine_env_shutdown EXIT
wine_env_init
check_installer "$exe" "$LINKRELAY_DEB_BUILD/bin/linkrelay-cli"
check_installer_start_failure cmake/nsis/NSIS.template.in build/packages/start-failure
echo "packages leg passed"
