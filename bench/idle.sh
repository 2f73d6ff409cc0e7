#!/usr/bin/env bash
# What the panel costs while it sits in the notification area, where users
# run it: an X display (Xvfb) with an XEmbed notification area (trayer) and a
# session bus, kestrum-sim playing a KX2, the real kestrum-panel with its
# window hidden. Measured as users have it, once with the program's icons
# installed in the system's hicolor theme (the package's install rules, into
# a prefix named first in XDG_DATA_DIRS) and once without; then on the
# offscreen platform the tests use. Beside it, the floor: bench_tray_floor,
# a bare QApplication with one QSystemTrayIcon, on the same display.
#
# Each program runs on its own, in interleaved rounds; once it is at rest
# (the panel's tray icon is shown and the device has received its state) its
# /proc entries are read over a window of N seconds: CPU time, wake-ups
# (context switches of all its threads), anonymous memory at the end, peak
# resident memory, threads. Each figure is the median of the rounds.
#   bench/idle.sh [--panel PATH] [--sim PATH] [--floor PATH] [--rounds N] [--seconds N]
# Without --panel/--sim/--floor it builds and measures build/; the installed
# icons always come from build/'s install rules.
set -euo pipefail
cd "$(dirname "$0")/.."

panel=
sim=
floor=
rounds=4
seconds=10
while [ $# -gt 0 ]; do
    case "$1" in
        --panel) panel=$(realpath "$2"); shift 2 ;;
        --sim) sim=$(realpath "$2"); shift 2 ;;
        --floor) floor=$(realpath "$2"); shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        *) echo "usage: bench/idle.sh [--panel PATH] [--sim PATH] [--floor PATH] [--rounds N] [--seconds N]" >&2; exit 2 ;;
    esac
done
if [ -z "$panel" ] || [ -z "$sim" ] || [ -z "$floor" ]; then
    scripts/build.sh kestrum-panel kestrum-sim bench_tray_floor > /dev/null
    panel=${panel:-$PWD/build/app/kestrum-panel}
    sim=${sim:-$PWD/build/sim/kestrum-sim}
    floor=${floor:-$PWD/build/bench/bench_tray_floor}
fi

# Goals: anonymous memory with the device attached, and the peak.
rss_anon_goal_kib=$((43 * 1024 / 10))
hwm_goal_kib=$((31 * 1024))
# A hidden panel only polls the device (PID every 400 ms, meters every
# 500 ms): well under one per cent of a core.
cpu_goal_ms=$((seconds * 10))

world=$(mktemp -d)
# The desktop's programs, and the one being measured.
pids=()
measured=
cleanup() {
    local pid
    for pid in $measured "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$world"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$world/run" HOME="$world/home"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR" "$HOME"
export QT_LOGGING_RULES="default.debug=false;qt.*=false"
unset XDG_DATA_DIRS XDG_CURRENT_DESKTOP QT_QPA_PLATFORMTHEME

# Waits up to 10 s for a command to succeed; polls, as there is nothing to block on.
await() {
    for _ in $(seq 100); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "gave up waiting for: $*" >&2
    return 1
}

# The installed icons, as the package lays them out.
cmake --install build/resources --prefix "$world/usr" > /dev/null

# The desktop: a display of its own, a session bus, a notification area.
exec {display_fd}> "$world/display"
Xvfb -displayfd "$display_fd" -screen 0 1280x800x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
exec {display_fd}>&-
await grep -q . "$world/display"
export DISPLAY=":$(cat "$world/display")"
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
pids+=("${bus##*$'\n'}")
shown() { xdotool search --onlyvisible --class "$1" | grep -q .; }
trayer --edge top --align right --widthtype request --height 32 --transparent false --tint 0x404040 > /dev/null 2>&1 &
pids+=($!)
await shown trayer

"$sim" --model KX2 --quiet > /dev/null &
pids+=($!)
await "$sim" status

# utime + stime of all threads, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# Voluntary and involuntary switches of every thread.
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
status_kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# Runs one program until it is at rest, measures it, ends it and appends
# "rss_anon_kib hwm_kib cpu_ms wakeups calls threads" to results/<name>.
#   measure NAME PLATFORM [installed] -- COMMAND...
measure() {
    local name=$1 platform=$2 data_dirs=
    shift 2
    [ "$1" = installed ] && { data_dirs="$world/usr/share:/usr/local/share:/usr/share"; shift; }
    shift
    "$sim" clear > /dev/null
    env QT_QPA_PLATFORM="$platform" ${data_dirs:+"XDG_DATA_DIRS=$data_dirs"} "$@" > "$world/out" 2>&1 &
    measured=$!
    local pid=$measured
    if [ "$1" = "$panel" ]; then
        # Found: the panel was built and sent its mixer record.
        await bash -c '"$1" report | grep -q "\"name\":\"io_set_mixer\""' _ "$sim"
    else
        await grep -q ready "$world/out"
    fi
    [ "$platform" = offscreen ] || await shown "$(basename "$1")"

    "$sim" clear > /dev/null
    local ticks switches_before
    ticks=$(cpu_ticks "$pid")
    switches_before=$(switches "$pid")
    sleep "$seconds"
    ticks=$(($(cpu_ticks "$pid") - ticks))
    echo "$(status_kib "$pid" RssAnon) $(status_kib "$pid" VmHWM)" \
        "$((ticks * 1000 / $(getconf CLK_TCK))) $(($(switches "$pid") - switches_before))" \
        "$("$sim" report | grep -o '"kind":"call"' | wc -l) $(status_kib "$pid" Threads)" >> "$world/results/$name"
    kill "$pid"
    wait "$pid" || true
    measured=
}

mkdir "$world/results"
configs=("floor, xcb" "panel, xcb" "panel, xcb, installed" "floor, offscreen" "panel, offscreen")
for _ in $(seq "$rounds"); do
    measure "floor, xcb" xcb -- "$floor"
    measure "panel, xcb" xcb -- "$panel"
    measure "panel, xcb, installed" xcb installed -- "$panel"
    measure "floor, offscreen" offscreen -- "$floor"
    measure "panel, offscreen" offscreen -- "$panel"
done

# The median of column $2 of results/$1 (the upper one of an even count).
median() { awk -v c="$2" '{ print $c }' "$world/results/$1" | sort -n | awk '{ v[NR] = $1 } END { print v[int(NR / 2) + 1] }'; }
verdict() { [ "$1" -le "$2" ] && echo met || echo MISSED; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

echo "At rest: KX2 attached, window hidden; medians of $rounds interleaved rounds of ${seconds} s ($panel)"
for config in "${configs[@]}"; do
    rss=$(median "$config" 1)
    hwm=$(median "$config" 2)
    cpu=$(median "$config" 3)
    wakeups=$(median "$config" 4)
    calls=$(median "$config" 5)
    echo "  $config: $(median "$config" 6) threads"
    if [ "${config%%,*}" = floor ]; then
        printf '    %-20s %10s\n' "RssAnon" "$(mib "$rss")" "VmHWM (peak RSS)" "$(mib "$hwm")" "CPU time (user+sys)" "$cpu ms" "wake-ups" "$wakeups"
        continue
    fi
    platform=${config#panel, }
    floor_rss=$(median "floor, ${platform%%,*}" 1)
    printf '    %-20s %10s   goal <= %s: %s; floor %s\n' "RssAnon" "$(mib "$rss")" "$(mib "$rss_anon_goal_kib")" "$(verdict "$rss" "$rss_anon_goal_kib")" "$(mib "$floor_rss")"
    printf '    %-20s %10s   goal <= %s: %s; floor %s\n' "VmHWM (peak RSS)" "$(mib "$hwm")" "$(mib "$hwm_goal_kib")" "$(verdict "$hwm" "$hwm_goal_kib")" "$(mib "$(median "floor, ${platform%%,*}" 2)")"
    printf '    %-20s %10s   goal <= %s: %s\n' "CPU time (user+sys)" "$cpu ms" "$cpu_goal_ms ms (1 % of a core)" "$(verdict "$cpu" "$cpu_goal_ms")"
    # Every driver call blocks the panel until the reply comes: one wake-up
    # per call is the floor.
    printf '    %-20s %10s   floor: %s, one per driver call the device received\n' "wake-ups" "$wakeups" "$calls"
done
