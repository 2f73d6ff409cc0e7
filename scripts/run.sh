#!/usr/bin/env bash
# Installs what is missing, builds, and runs the panel against a simulated
# KX2. The simulator prints every call the device receives; without a
# display the panel runs on the offscreen platform. Ctrl+C stops both.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi

build/sim/kestrum-sim --model KX2 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT

# The panel finds the device on its next detection tick once the simulator listens.
build/app/kestrum-panel
