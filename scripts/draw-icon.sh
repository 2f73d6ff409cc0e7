#!/usr/bin/env bash
# Draws the program's icon into resources/ (icons/hicolor/<n>x<n>/apps/ at
# each size it is shown at, and icon.ico), where the resource collection and
# the install rules take it from. Run it after changing resources/draw/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh kestrum-draw-icon
QT_QPA_PLATFORM=offscreen build/resources/kestrum-draw-icon resources
