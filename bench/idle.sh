#!/usr/bin/env bash
# What the panel costs while it sits in the notification area: kestrum-sim
# plays a KX2, the real kestrum-panel runs with its window hidden (offscreen,
# in a private runtime and home directory), and once the device has received
# the panel's state the panel's /proc entries are read over a window of
# 30 s: CPU time, wake-ups (context switches of all its threads), anonymous
# memory and peak resident memory, each next to its goal.
#   bench/idle.sh [--panel PATH] [--sim PATH] [--seconds N]
# Without --panel/--sim it builds and measures build/.
set -euo pipefail
cd "$(dirname "$0")/.."

panel=
sim=
seconds=30
while [ $# -gt 0 ]; do
    case "$1" in
        --panel) panel=$(realpath "$2"); shift 2 ;;
        --sim) sim=$(realpath "$2"); shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        *) echo "usage: bench/idle.sh [--panel PATH] [--sim PATH] [--seconds N]" >&2; exit 2 ;;
    esac
done
if [ -z "$panel" ] || [ -z "$sim" ]; then
    scripts/build.sh kestrum-panel kestrum-sim > /dev/null
    panel=${panel:-$PWD/build/app/kestrum-panel}
    sim=${sim:-$PWD/build/sim/kestrum-sim}
fi

# Goals: anonymous memory with the device attached, and the peak.
rss_anon_goal_kib=$((42 * 1024 / 10))
hwm_goal_kib=$((31 * 1024))
# A hidden panel only polls the device (PID every 400 ms, meters every
# 500 ms): well under one per cent of a core.
cpu_goal_ms=$((seconds * 10))

world=$(mktemp -d)
sim_pid=
panel_pid=
cleanup() {
    local pid
    for pid in $panel_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$world"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$world/run" HOME="$world/home"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR" "$HOME"
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="default.debug=false;qt.*=false"

# Waits up to 10 s for a command to succeed; polls, as there is nothing to block on.
await() {
    for _ in $(seq 100); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "gave up waiting for: $*" >&2
    return 1
}

"$sim" --model KX2 --quiet > /dev/null &
sim_pid=$!
await "$sim" status

"$panel" > "$world/panel.log" 2>&1 &
panel_pid=$!
# Found: the panel was built and sent its mixer record.
await bash -c '"$1" report | grep -q "\"name\":\"io_set_mixer\""' _ "$sim"

# utime + stime of all threads, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$panel_pid/stat"; }
# Voluntary and involuntary switches of every thread.
switches() { cat /proc/"$panel_pid"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
status_kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$panel_pid/status"; }

"$sim" clear > /dev/null
ticks_before=$(cpu_ticks)
switches_before=$(switches)
sleep "$seconds"
ticks_after=$(cpu_ticks)
switches_after=$(switches)
rss_anon_kib=$(status_kib RssAnon)
hwm_kib=$(status_kib VmHWM)
calls=$("$sim" report | grep -o '"kind":"call"' | wc -l)

cpu_ms=$(( (ticks_after - ticks_before) * 1000 / $(getconf CLK_TCK) ))
wakeups=$((switches_after - switches_before))
verdict() { [ "$1" -le "$2" ] && echo met || echo MISSED; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

echo "kestrum-panel, KX2 attached, window hidden, ${seconds} s ($panel)"
printf '  %-22s %10s   goal <= %s: %s\n' "CPU time (user+sys)" "$cpu_ms ms" "$cpu_goal_ms ms (1 % of a core)" "$(verdict "$cpu_ms" "$cpu_goal_ms")"
# Every driver call blocks the panel until the reply comes: one wake-up per
# call is the floor.
printf '  %-22s %10s   floor: %s, one per driver call the device received\n' "wake-ups" "$wakeups" "$calls"
printf '  %-22s %10s   goal <= %s: %s\n' "RssAnon" "$(mib "$rss_anon_kib")" "$(mib "$rss_anon_goal_kib")" "$(verdict "$rss_anon_kib" "$rss_anon_goal_kib")"
printf '  %-22s %10s   goal <= %s: %s\n' "VmHWM (peak RSS)" "$(mib "$hwm_kib")" "$(mib "$hwm_goal_kib")" "$(verdict "$hwm_kib" "$hwm_goal_kib")"
