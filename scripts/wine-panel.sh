#!/usr/bin/env bash
# Runs the Windows program of build-windows-app/ under Wine, as the Linux
# kestrum-panel is run: against whatever serves the stand-in's sockets
# under $XDG_RUNTIME_DIR (a kestrum-sim, say), which the Wine bridge
# reaches (scripts/wine-bridge.sh). The arguments go to the program. It
# runs on the display if there is one, else on an Xvfb of its own. The
# Wine prefix is $WINEPREFIX, or ~/.local/share/kestrum/wine, made on the
# first run (about a minute). Ends when the program ends, with its exit
# code; SIGTERM or SIGINT ends the program; no Wine process is left behind.
# Needs scripts/build-windows.sh and the bridge (bridge_build,
# bridge_build_windows) built; scripts/run-windows.sh builds all of it.
#   scripts/wine-panel.sh [program arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-bridge.sh

wine64=/usr/lib/wine/wine64
export WINEPREFIX="${WINEPREFIX:-${XDG_DATA_HOME:-$HOME/.local/share}/kestrum/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or HTML engine: the program needs neither, and Wine would offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
logs="$(mktemp -d)"
display_pid=
program_pid=

stop_all() {
    wineserver -k 2> /dev/null || true
    bridge_stop
    [ -z "$display_pid" ] || { kill "$display_pid" 2> /dev/null; wait "$display_pid" 2> /dev/null || true; }
    rm -rf "$logs"
}
trap stop_all EXIT
# Before the program runs, a signal ends the script at once.
trap 'if [ -n "$program_pid" ]; then kill "$program_pid" 2> /dev/null; else exit 143; fi' TERM INT

if [ -z "${DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$logs/display" 2> "$logs/xvfb.log" &
    display_pid=$!
    bridge_wait_for grep -q . "$logs/display" || { cat "$logs/xvfb.log" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$logs/display")"
fi

# One server for the whole run; a new prefix is made on this display, or
# Wine waits for one that never comes.
wineserver -p
[ -f "$WINEPREFIX/system.reg" ] || timeout 300 "$wine64" wineboot -u > /dev/null 2>&1
bridge_relay_start "${XDG_RUNTIME_DIR:-}" "$logs"
bridge_start_windows

"$wine64" build-windows-app/kestrum-panel.exe "$@" &
program_pid=$!
status=0
wait "$program_pid" || status=$?
# A signal interrupts the first wait; the second collects the program.
if kill -0 "$program_pid" 2> /dev/null; then wait "$program_pid" || status=$?; fi
exit "$status"
