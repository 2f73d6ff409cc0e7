#!/usr/bin/env bash
# Builds the Windows installer: installs what is missing, builds the Windows
# program (build-windows.sh) and lets CPack make
# build-windows-panel/kestrum-panel-<version>-win64.exe with NSIS from the
# same install rules that make build-windows-app/. Prints its path.
#   scripts/package-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows
scripts/build-windows.sh > /dev/null
build_dir=build-windows-panel
rm -f "$build_dir"/kestrum-panel-*-win64.exe
cpack --preset windows > /dev/null
ls "$PWD/$build_dir"/kestrum-panel-*-win64.exe
