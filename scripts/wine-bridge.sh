# The Linux side of the Wine bridge, to be sourced from the repository's
# root: a kestrum-sim serving a runtime directory of its own, and the relay
# that hands the Windows side's device and pipe calls to whatever serves
# that directory (tests/windows/relay). The Windows side (the bridge driver,
# the ASIO pipe player) reaches the relay on the port in KESTRUM_RELAY_PORT.
#   bridge_build                   builds the sim and the relay
#   bridge_build_windows           builds the Windows side into build-windows/
#   bridge_start DIR [SIM OPTIONS] serves DIR; sets KESTRUM_RELAY_PORT
#   bridge_relay_start DIR LOGS    the relay alone, for what serves DIR (or
#                                  the default runtime directory when DIR is
#                                  empty), its port and logs kept in LOGS
#   bridge_sim COMMAND...          a control command to that sim
#   bridge_start_windows           in the running Wine prefix: the bridge
#                                  driver as a service, and the pipe player
#   bridge_stop                    stops the relay and the sim
# bridge_start_windows needs the Windows build in build-windows/bin.

bridge_sim_program=build/sim/kestrum-sim
bridge_relay_program=build-windows/relay/kestrum-wine-relay
bridge_pids=()

bridge_build() {
    scripts/build.sh kestrum-sim
    cmake -S tests/windows/relay -B build-windows/relay -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build build-windows/relay
}

bridge_build_windows() {
    cmake -S tests/windows -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" > /dev/null
    cmake --build build-windows -j2 --target kestrum_bridge_driver kestrum_wine_asio
}

bridge_sim() {
    XDG_RUNTIME_DIR="$bridge_runtime_dir" "$bridge_sim_program" "$@"
}

# Waits up to ten seconds for a command to succeed.
bridge_wait_for() {
    local tries=100
    until "$@" > /dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

bridge_start() {
    bridge_runtime_dir="$1"
    shift
    XDG_RUNTIME_DIR="$bridge_runtime_dir" "$bridge_sim_program" --quiet "$@" > "$bridge_runtime_dir/sim.log" 2>&1 &
    bridge_pids+=($!)
    bridge_wait_for bridge_sim status || { cat "$bridge_runtime_dir/sim.log" >&2; return 1; }
    bridge_relay_start "$bridge_runtime_dir" "$bridge_runtime_dir"
}

bridge_relay_start() {
    bridge_runtime_dir="$1"
    bridge_log_dir="$2"
    env ${bridge_runtime_dir:+XDG_RUNTIME_DIR="$bridge_runtime_dir"} "$bridge_relay_program" > "$bridge_log_dir/relay.port" &
    bridge_pids+=($!)
    bridge_wait_for grep -q . "$bridge_log_dir/relay.port" || { echo "the relay did not start" >&2; return 1; }
    KESTRUM_RELAY_PORT="$(head -n 1 "$bridge_log_dir/relay.port")"
    export KESTRUM_RELAY_PORT
}

bridge_start_windows() {
    local wine64=/usr/lib/wine/wine64 key='HKLM\System\CurrentControlSet\Services\KestrumBridge'
    # A prefix kept from an earlier run has the service already.
    "$wine64" sc query KestrumBridge > /dev/null 2>&1 ||
        "$wine64" sc create KestrumBridge type= kernel start= demand \
            binPath= "$(winepath -w build-windows/bin/kestrum_bridge_driver.sys)" > /dev/null
    "$wine64" reg add "$key" /v RelayPort /t REG_DWORD /d "$KESTRUM_RELAY_PORT" /f > /dev/null
    "$wine64" sc start KestrumBridge > /dev/null
    "$wine64" build-windows/bin/kestrum_wine_asio.exe "$KESTRUM_RELAY_PORT" > "$bridge_log_dir/asio.log" 2>&1 &
    bridge_pids+=($!)
    bridge_wait_for grep -q ready "$bridge_log_dir/asio.log" || { cat "$bridge_log_dir/asio.log" >&2; return 1; }
}

bridge_stop() {
    local pid
    for pid in "${bridge_pids[@]}"; do
        kill "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    done
    bridge_pids=()
}
