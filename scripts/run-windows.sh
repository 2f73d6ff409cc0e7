#!/usr/bin/env bash
# scripts/run.sh for the Windows build: installs what is missing, builds
# the Windows program (the first run builds Qt for Windows, about half an
# hour) and the Wine bridge, and runs the program under Wine against a
# simulated KX2, on the display if there is one, else on an Xvfb of its
# own (wine-panel.sh). The simulator prints every call the device
# receives. Ctrl+C stops both.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --desktop
scripts/install-deps.sh --windows
scripts/build-windows.sh > /dev/null
source scripts/wine-bridge.sh
bridge_build
bridge_build_windows

build/sim/kestrum-sim --model KX2 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT

# The program finds the device on its next detection tick once the simulator listens.
scripts/wine-panel.sh
