#!/usr/bin/env bash
# Builds the packages into build/packages/.
#   scripts/package.sh deb       linkrelay_<version>_<arch>.deb (release preset: /usr, tests off)
#   scripts/package.sh windows   linkrelay-<version>-win64.exe (NSIS, from the mingw cross build)
# The .deb comes from the release preset's folder, or from the native build folder
# $LINKRELAY_DEB_BUILD when set (CI: the test leg's build/ci, to build nothing twice).
# The Windows installer is made from the mingw build folder $LINKRELAY_MINGW_BUILD
# (default build/mingw-release): an existing folder (for example the Windows CI leg's,
# tests included) is built and packaged as it is; a missing one is configured without tests.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/packages
mkdir -p "$out"

package_deb() {
    scripts/deps.sh base package
    local build=${LINKRELAY_DEB_BUILD:-}
    if [ -n "$build" ]; then
        # An existing native build folder, given the package's install folders (which
        # changes no compiled file).
        cmake -B "$build" -DCMAKE_INSTALL_PREFIX=/usr \
            -DLINKRELAY_SYSTEMD_UNIT_DIR=/lib/systemd/system \
            -DLINKRELAY_UDEV_RULES_DIR=/lib/udev/rules.d >/dev/null
    else
        build=build/release
        cmake --preset release >/dev/null
    fi
    cmake --build "$build" -j2 --target linkrelay linkrelay-cli linkrelay-sim linkrelay_changelog
    (cd "$build" && cpack -G DEB -B "$OLDPWD/build/packages/deb-work" >/dev/null)
    mv build/packages/deb-work/linkrelay_*.deb "$out/"
    rm -rf build/packages/deb-work
}

package_windows() {
    scripts/deps.sh windows package
    local build=${LINKRELAY_MINGW_BUILD:-build/mingw-release}
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake --preset mingw -B "$build" -DLINKRELAY_TESTS=OFF \
            -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" >/dev/null
    fi
    cmake --build "$build" -j2 --target linkrelay linkrelay-cli
    (cd "$build" && cpack -G NSIS -B "$OLDPWD/build/packages/nsis-work" >/dev/null)
    mv build/packages/nsis-work/linkrelay-*-win64.exe "$out/"
    rm -rf build/packages/nsis-work
}

case "${1:-}" in
deb) package_deb ;;
windows) package_windows ;;
*)
    echo "usage: $0 deb|windows" >&2
    exit 2
    ;;
esac
ls -l "$out"
