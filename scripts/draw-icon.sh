#!/usr/bin/env bash
# Draws the program's icon into resources/ (icon.png, icon.ico), where the
# resource collection takes it from. Run it after changing resources/draw/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh kestrum-draw-icon
QT_QPA_PLATFORM=offscreen build/resources/kestrum-draw-icon resources
