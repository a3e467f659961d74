#!/usr/bin/env bash
# Installs the Debian packages a task needs, when any is missing.
# Usage: scripts/deps.sh [base] [fuzz] [windows] [bench] [python] [package] [lint]   (default: base)
set -euo pipefail

declare -A groups=(
    [base]="cmake ninja-build g++ pkg-config python3 git googletest libgtest-dev libgmock-dev libsystemd-dev dbus-daemon iproute2"
    [fuzz]="clang libclang-rt-14-dev"
    [windows]="g++-mingw-w64-x86-64-posix wine64 wine googletest"
    [bench]="libbenchmark-dev linux-perf"
    [package]="dpkg-dev file lintian nsis"
    [lint]="clang-format clang-tidy"
    [python]="python3 python3-pytest python3-pytest-asyncio python3-bleak python3-setuptools python3-pip python3-venv"
)

wanted=()
for group in "${@:-base}"; do
    for package in ${groups[$group]:?unknown package group $group}; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            wanted+=("$package")
        fi
    done
done
if [ ${#wanted[@]} -gt 0 ]; then
    echo "installing: ${wanted[*]}"
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${wanted[@]}"
fi
