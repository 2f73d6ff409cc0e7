#!/usr/bin/env bash
# Renders each model's panel, attached to kestrum-sim with fixed meter
# levels, to docs/panels/<model>.png, and the shared controls to
# docs/panels/controls.png (or the directory given), offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh

output_dir=${1:-docs/panels}
mkdir -p "$output_dir"

# A private world: no user's ini files are read and no running sim is disturbed.
world=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$world"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$world/run" HOME="$world/home" XDG_DATA_HOME="$world/home/.local/share"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="default.debug=false;qt.qpa.*=false"

# Some controls away from their defaults, so the pictures show lit switches
# and turned knobs. The renderer keeps its state files under its own name.
state_dir="$XDG_DATA_HOME/kestrum-render-panel"
mkdir -p "$state_dir"
printf '[Button]\nMicInstrIsChecked=true\nMic48VIsChecked=true\nHeadphoneDimIsChecked=true\n[Dial]\nMicValue=30\nHeadphoneValue=-12\nOtgToHpValue=-6\n' > "$state_dir/kx1.ini"
printf '[Button]\nMic148VIsChecked=true\nMonitorMic1IsChecked=true\nSpeakerMuteIsChecked=true\n[Dial]\nMic1Value=24\nMic2Value=40\nSpeakerValue=-18\nHeadphoneValue=-12\nOtgToSPValue=-30\n' > "$state_dir/kx2.ini"
printf '[Button]\nMonitorMicIsChecked=true\n[Dial]\nMicValue=20\nHeadphoneValue=-24\n' > "$state_dir/kq.ini"

for model in KX1 KX2 KQ; do
    build/sim/kestrum-sim --model "$model" --quiet > /dev/null &
    sim_pid=$!
    for _ in $(seq 50); do
        build/sim/kestrum-sim status > /dev/null 2>&1 && break
        sleep 0.1
    done
    # Mic 1 at -6 dB, mic 2 at -20 dB, the phone input at -12 dB.
    build/sim/kestrum-sim meter 1073741824 214748365 536870912 536870912 > /dev/null
    file="$output_dir/$(echo "$model" | tr '[:upper:]' '[:lower:]').png"
    # The offscreen platform warns that it cannot pass size hints on; nothing else is hidden.
    build/panels/kestrum-render-panel "$model" "$file" 2>&1 > /dev/null | { grep -v propagateSizeHints || true; } >&2
    echo "wrote $file"
    build/sim/kestrum-sim quit > /dev/null
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
done

# The shared controls in their states, without a device.
build/panels/kestrum-render-panel controls "$output_dir/controls.png" 2>&1 > /dev/null | { grep -v propagateSizeHints || true; } >&2
echo "wrote $output_dir/controls.png"
