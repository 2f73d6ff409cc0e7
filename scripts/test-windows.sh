#!/usr/bin/env bash
# Cross-compiles the Windows half of the OS seam with mingw-w64 into
# build-windows/ and runs its tests with CTest under Wine, in a fresh Wine
# prefix that is removed again at the end, with a kestrum-sim and the Wine
# bridge's relay serving a runtime directory of their own (wine-bridge.sh).
# Then builds the Windows program and its installer (package-windows.sh;
# the first run builds Qt for Windows, about half an hour), runs the program
# under Wine beside the Linux one on an X display of its own
# (tests/windows/e2e), and installs, starts and uninstalls it in a fresh
# Wine prefix (tests/windows/installer). Every test is labelled windows.
# Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --desktop
scripts/install-deps.sh --windows
source scripts/wine-bridge.sh
bridge_build

build_dir=build-windows
cmake -S tests/windows -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" > /dev/null
cmake --build "$build_dir" -j2

wine64=/usr/lib/wine/wine64
WINEPREFIX="$(mktemp -d)"
runtime_dir="$(mktemp -d)"
export WINEPREFIX WINEDEBUG=-all

# Wine's background processes (services, the driver host) live as long as
# the server: without stopping it, the script would wait for them.
stop_wine() {
    wineserver -k 2>/dev/null || true
    # Debian's Wine names the server's socket directory in the prefix.
    local server_dir
    server_dir="$(cat "$WINEPREFIX/wineserver" 2>/dev/null || true)"
    case "$server_dir" in
        wine-?*) rm -rf "${TMPDIR:-/tmp}/$server_dir" ;;
    esac
    rm -rf "$WINEPREFIX"
}
stop_all() {
    stop_wine
    bridge_stop
    rm -rf "$runtime_dir"
}
trap stop_all EXIT
bridge_start "$runtime_dir"

# One persistent server for all test processes, and a booted prefix before
# the first test asks the service manager for its driver. The prefix is made
# by -u: with -i on a new prefix Wine starts two service managers.
wineserver -p
WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 "$wine64" wineboot -u > /dev/null 2>&1

(cd "$build_dir" && ctest --output-on-failure -j2)
stop_all
trap - EXIT

installer="$(scripts/package-windows.sh)"
scripts/build.sh kestrum-sim kestrum-panel
cmake -S tests/windows/e2e -B "$build_dir/e2e" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build_dir/e2e"
cmake -S tests/windows/installer -B "$build_dir/installer" -DKESTRUM_INSTALLER="$installer" > /dev/null
unset WINEPREFIX KESTRUM_RELAY_PORT
for suite in e2e installer; do
    (cd "$build_dir/$suite" && ctest --output-on-failure)
done
