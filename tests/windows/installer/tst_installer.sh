#!/usr/bin/env bash
# The Windows installer as an administrator deploys it, under Wine in a
# fresh prefix on an X display (xvfb-run): a silent install puts the
# program, the Start-menu shortcut, the installed-programs entry and the
# login entry where Windows looks for them; the login entry's command starts
# the installed program, which finds the device kestrum-sim plays through
# the Wine bridge (scripts/wine-bridge.sh); a silent uninstall ends that
# running copy and removes all of it but the user's ini files.
#   tests/windows/installer/tst_installer.sh INSTALLER.exe
# Needs build/sim, the relay and build-windows/bin (scripts/test-windows.sh builds them).
set -euo pipefail
installer=$(realpath "$1")
cd "$(dirname "$0")/../../.."
# Installing is the scripts' job: this only names what is missing.
scripts/install-deps.sh --check --windows
source scripts/wine-bridge.sh

wine64=/usr/lib/wine/wine64
work=$(mktemp -d)
mkdir -m 0700 "$work/run" "$work/wine"
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2> /dev/null || true
    bridge_stop
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# Polls a condition for up to 60 s: Wine offers nothing to block on.
await() {
    for _ in $(seq 600); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
# A registry value as reg.exe prints it: the text after its type.
value() { { "$wine64" reg query "$1" /v "$2" 2> /dev/null || true; } | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
received() { bridge_sim report | grep -q "\"name\":\"$1\""; }
gone() { [ ! -e "$1" ]; }

wineserver -p
timeout 300 "$wine64" wineboot -u > /dev/null 2>&1
bridge_start "$work/run" --model KX2
bridge_start_windows

version=$(basename "$installer" | sed -n 's/^kestrum-panel-\(.*\)-win64\.exe$/\1/p')
timeout 120 "$wine64" "$installer" /S || fail "the silent install ended with $?"

folder="$WINEPREFIX/drive_c/Program Files/Kestrum Panel"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kestrum Panel"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KestrumPanel'
run='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
for file in kestrum-panel.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll libstdc++-6.dll qt.conf Uninstall.exe; do
    [ -f "$folder/$file" ] || fail "not installed: $file"
done
[ ! -e "$folder/kestrum-sim.exe" ] || fail "the simulator was installed"
# Every DLL a program or plugin imports is shipped, or is Windows' own (an
# API set, or in system32).
for file in "$folder"/*.exe "$folder"/*.dll "$folder"/*/*.dll; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | grep -vi '^api-ms-'); do
        [ -n "$(find "$folder" "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname "$dll")" ] ||
            fail "${file##*/} imports $dll, which is not shipped"
    done
done
[ -f "$menu/Kestrum Panel.lnk" ] || fail "no Start-menu shortcut in $(ls "$menu" 2>&1)"
for expected in "DisplayName=Kestrum Panel" "DisplayVersion=$version" "Publisher=Kestrum" \
    'DisplayIcon=C:\Program Files\Kestrum Panel\kestrum-panel.exe' \
    'QuietUninstallString="C:\Program Files\Kestrum Panel\Uninstall.exe" /S'; do
    found=$(value "$uninstall" "${expected%%=*}")
    [ "$found" = "${expected#*=}" ] || fail "uninstall entry ${expected%%=*} is \"$found\", not \"${expected#*=}\""
done
login=$(value "$run" KestrumPanel)
[ "$login" = '"C:\Program Files\Kestrum Panel\kestrum-panel.exe" --quiet' ] || fail "login entry: \"$login\""

# The login entry's command, as Windows runs it at login: the installed program finds the device.
program=$(sed -n 's/^"\(.*\)".*/\1/p' <<< "$login")
"$wine64" "$program" ${login##*\"} > "$work/panel.log" 2>&1 &
panel_pid=$!
if ! await received io_set_mixer; then
    fail "the installed program did not reach the device"
    cat "$work/panel.log" >&2
fi
data=$(echo "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/kestrum-panel)
await test -f "$data/kx2.ini" || fail "no kx2.ini in $data"

# The copy still runs: the silent uninstall ends it, then removes everything it installed.
running() { kill -0 "$panel_pid" 2> /dev/null; }
ended() { ! running; }
running || fail "the installed program is not running"
"$wine64" "$folder/Uninstall.exe" /S
await gone "$folder" || fail "left after the uninstall: $(cd "$folder" && find . -mindepth 1)"
await gone "$menu" || fail "the Start-menu folder is left"
await ended || fail "the program still runs"
"$wine64" reg query "$uninstall" > /dev/null 2>&1 && fail "the uninstall entry is left"
[ -z "$(value "$run" KestrumPanel)" ] || fail "the login entry is left"
[ -f "$data/kx2.ini" ] || fail "the user's kx2.ini went with the program"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
