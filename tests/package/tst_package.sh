#!/usr/bin/env bash
# The Debian packages as a user's machine gets them: built from the install
# rules by scripts/package.sh (into build-package/, so later runs are
# incremental), unpacked into a scratch directory with dpkg-deb (never
# installed here), checked by lintian and the desktop-entry and AppStream
# validators, and run from the unpacked tree: the menu entry's command
# starts a panel that reaches the device the build tree's kestrum-sim plays
# (the user's package holds no simulator), the login entry's command finds
# that copy running, and the panel goes on SIGTERM.
#   tests/package/tst_package.sh KESTRUM-SIM
set -euo pipefail
sim=$(realpath "$1")
cd "$(dirname "$0")/../.."
# Installing is the scripts' job: this only names what is missing.
scripts/install-deps.sh --check --package

work=$(mktemp -d)
panel_pid=
sim_pid=
cleanup() {
    local pid
    for pid in $panel_pid $sim_pid; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# Runs a validator; one that fails or has anything to say (a hint too) is
# reported with its output, and the rest still run.
validate() {
    local what=$1
    shift
    if ! "$@" > "$work/check.log" 2>&1 || [ -s "$work/check.log" ]; then
        fail "$what"
        cat "$work/check.log" >&2
    fi
}

# --- The package -------------------------------------------------------------

# Low priority: the other suites run beside this build.
if ! nice -n 10 scripts/package.sh > "$work/package.log" 2>&1; then
    cat "$work/package.log" >&2
    echo "FAIL: scripts/package.sh" >&2
    exit 1
fi
deb=$(grep '/kestrum-panel_[^/]*\.deb$' "$work/package.log")
sim_deb=$(grep '/kestrum-sim_[^/]*\.deb$' "$work/package.log") || { echo "FAIL: no kestrum-sim package" >&2; exit 1; }
echo "packages: $deb $sim_deb"
root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -x "$sim_deb" "$work/sim"

applications=("$root"/usr/share/applications/*.desktop)
autostart=("$root"/etc/xdg/autostart/*.desktop)
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)

[ ${#autostart[@]} -eq 1 ] || fail "autostart entries: ${autostart[*]}"

# Every program with its manual page; the simulator is the developers'
# package's alone, and no suite, benchmark or helper program is installed.
for program in "$root"/usr/bin/* "$work"/sim/usr/bin/*; do
    [ -f "${program%/bin/*}/share/man/man1/${program##*/}.1.gz" ] || fail "${program##*/} has no manual page"
done
[ "$(LC_ALL=C ls "$root/usr/bin" | tr '\n' ' ')" = "kestrum-panel kestrumctl " ] || fail "the user's package holds $(ls "$root/usr/bin")"
[ "$(ls "$work/sim/usr/bin")" = kestrum-sim ] || fail "the developers' package holds $(ls "$work/sim/usr/bin")"

# One version throughout: the package's, its changelog's latest entry and the AppStream data's latest release.
version=$(dpkg-deb -f "$deb" Version)
for found in "$(zcat "$root/usr/share/doc/kestrum-panel/changelog.Debian.gz" | sed -n '1s/.*(\(.*\)).*/\1/p')" \
    "$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "${metainfo[@]}" | head -n 1)-${version##*-}"; do
    [ "$found" = "$version" ] || fail "version $found, the package's $version"
done

# The library dependencies come from dpkg-shlibdeps.
for expected in "$deb libc6 libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6" "$sim_deb libqt6core6 libqt6network6"; do
    read -r package libraries <<< "$expected"
    depends=$(dpkg-deb -f "$package" Depends)
    for library in $libraries; do
        [[ "$depends" == *"$library "* ]] || fail "$(basename "$package") Depends lacks $library: $depends"
    done
done

# Each theme image has the size its directory names, and every size a
# notification area, menu, window frame or launcher asks for is there.
for png in "$root"/usr/share/icons/hicolor/*/apps/*.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    file "$png" | grep -q "PNG image data, ${size/x/ x }," || fail "$png is not $size: $(file -b "$png")"
done
for size in 16 22 24 32 48 64 128 256; do
    for entry in "${applications[@]}" "${autostart[@]}"; do
        icon=$(sed -n 's/^Icon=//p' "$entry")
        [ -f "$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ] ||
            fail "$(basename "$entry"): no ${size}x${size} image of its icon $icon"
    done
done

# The metainfo's launchable is the menu entry.
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "${metainfo[@]}")
[ -f "$root/usr/share/applications/$launchable" ] || fail "launchable $launchable is not in /usr/share/applications"

# --- Validators --------------------------------------------------------------

validate "desktop-file-validate" desktop-file-validate "${applications[@]}" "${autostart[@]}"
# It always ends with a summary line; its exit code tells warnings and errors.
if ! appstreamcli validate --no-net "${metainfo[@]}" > "$work/check.log" 2>&1; then
    fail "appstreamcli validate"
    cat "$work/check.log" >&2
fi
# lintian's warnings are shown, its errors fail.
lintian --fail-on error "$deb" "$sim_deb" > "$work/lintian.log" 2>&1 || fail "lintian"
grep -E '^[EW]:' "$work/lintian.log" || true

# --- The unpacked programs against the simulator -----------------------------

world="$work/world"
mkdir -m 0700 -p "$world/run"
mkdir -p "$world/home" "$world/tmp"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
export XDG_RUNTIME_DIR="$world/run" HOME="$world/home" TMPDIR="$world/tmp"
export PATH="$root/usr/bin:$PATH" QT_QPA_PLATFORM=offscreen

# Polls, up to 30 s, as the sim offers nothing to block on.
await() {
    for _ in $(seq 300); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
received() { "$sim" report | grep -q "\"name\":\"$1\""; }
# Gone, or a zombie waiting to be reaped by this script.
ended() { [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null || echo Z)" = Z ]; }
# An entry's command as the session runs it: words, no field codes.
entry_command() { sed -n 's/^Exec=//p' "$1"; }

"$sim" --model KX2 --quiet > "$work/sim.log" 2>&1 &
sim_pid=$!
await "$sim" status || { cat "$work/sim.log" >&2; echo "FAIL: kestrum-sim does not answer" >&2; exit 1; }

read -ra command <<< "$(entry_command "${applications[0]}")"
[ "$(command -v "${command[0]}")" = "$root/usr/bin/${command[0]}" ] ||
    fail "the menu entry starts ${command[0]}, which the package does not hold"
"${command[@]}" > "$work/panel.log" 2>&1 &
panel_pid=$!
if await received io_set_mixer && received io_get_device_pid; then
    echo "the device received the panel's PID read and mixer record"
else
    fail "the device did not receive the panel's calls"
    cat "$work/panel.log" >&2
fi

# At login the autostart entry starts the program; a copy already runs, so it ends at once.
read -ra command <<< "$(entry_command "${autostart[0]}")"
status=0
timeout 30 "${command[@]}" > "$work/second.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || { fail "the autostart entry's command ended with $status"; cat "$work/second.log" >&2; }
ended "$panel_pid" && fail "the first panel did not keep running"

# The panel goes on SIGTERM; its exit code is not checked.
kill -TERM "$panel_pid" 2>/dev/null || true
await ended "$panel_pid" || fail "the panel still runs 30 s after SIGTERM"
wait "$panel_pid" 2>/dev/null || true
panel_pid=

"$sim" quit > /dev/null
wait "$sim_pid" 2>/dev/null || true
sim_pid=

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
