#!/usr/bin/env bash
# The Windows leg: the mingw-w64 cross build of linkrelay.exe and of the unit tests (fresh
# build folder, warnings as errors), the unit tests under Wine through ctest, then the
# real linkrelay.exe under Wine's service manager, in a console with Ctrl+C, and through
# the install script of packaging/windows, and as a service that finds a simulated dongle
# on COM7 and serves a TCP client. Wine runs headless in a throwaway prefix.
# Build folder: $LINKRELAY_MINGW_BUILD, default build/mingw.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${LINKRELAY_MINGW_BUILD:-build/mingw}

# Unit tests that Wine cannot run faithfully, as ctest name patterns, each with the
# reason. Tests that start the Linux program or use Linux-only facilities are not built
# for Windows at all (their CMakeLists leave them out), so they need no entry here.
wine_unfaithful=(
    # None so far. Wine differs from Windows where a test would rely on CancelIoEx
    # aborting a synchronous ReadFile, on a second exclusive open of a port failing, or
    # on a WriteFile waiting behind a pending ReadFile.
)

scripts/deps.sh base windows
source scripts/wine/wine-ci-env.sh
wine_fixed_layout_or_exec "$0" "$@"

rm -rf "$build"
# The preset's optimisation without debug information: the leg only runs the programs,
# and the debug information took about a third of the build's time.
cmake --preset mingw -B "$build" -DLINKRELAY_WERROR=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    -DWINE_EXECUTABLE="$PWD/scripts/wine/wine-test.sh" >/dev/null
cmake --build "$build" -j2
# The Linux simulated dongle and client for the run with a dongle.
native=${LINKRELAY_WINE_NATIVE_BUILD:-build/wine-native}
cmake --preset default -B "$native" -DLINKRELAY_TESTS=OFF >/dev/null
cmake --build "$native" -j2 --target linkrelay-sim linkrelay-cli

source scripts/wine/service-checks.sh
source scripts/wine/dongle-checks.sh
trap wine_env_shutdown EXIT
wine_env_init

exclude=()
if [ ${#wine_unfaithful[@]} -gt 0 ]; then
    exclude=(-E "$(IFS='|'; echo "${wine_unfaithful[*]}")")
fi
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 --no-tests=error \
    "${exclude[@]}" </dev/null

exe=$build/bin/linkrelay.exe
check_service_run "$exe"
check_console_run "$exe"
check_install_script packaging/windows/linkrelay-service.cmd "$exe"
check_dongle_service_run "$exe" "$native/bin/linkrelay-sim" "$native/bin/linkrelay-cli"
echo "windows leg passed"
