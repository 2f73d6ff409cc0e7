#!/usr/bin/env bash
# Builds the Windows program with mingw-w64 into build-windows-panel/ and
# its folder into build-windows-app/: kestrum-panel.exe with the Qt DLLs,
# the platform plugin and the compiler's runtime DLLs, ready to copy to a
# Windows machine. Builds the Windows Qt first when its cache lacks it
# (build-windows-qt.sh; about half an hour once).
#   scripts/build-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

KESTRUM_WINDOWS_QT="$(scripts/build-windows-qt.sh)"
export KESTRUM_WINDOWS_QT
build_dir=build-windows-panel
app_dir="$PWD/build-windows-app"

cmake --preset windows > /dev/null
# Qt's toolchain file only warns when it misses the mingw one, and the
# build would then be a Linux one.
grep -q 'set(CMAKE_SYSTEM_NAME "Windows")' "$build_dir"/CMakeFiles/*/CMakeSystem.cmake ||
    { echo "build-windows: $build_dir is not configured for Windows" >&2; exit 1; }
nice cmake --build --preset windows
rm -rf "$app_dir"
cmake --install "$build_dir" --strip --prefix "$app_dir" > /dev/null
echo "$app_dir"
