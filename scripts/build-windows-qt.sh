#!/usr/bin/env bash
# Builds the Qt of the installed Debian packages for 64-bit Windows
# (mingw-w64, posix threads) once, from Debian's own source, and installs
# it into a cache outside the tree, where a fresh clone and CI find it. A
# stamp in the cache makes later runs do nothing. Prints the Qt prefix on
# standard output (all else goes to standard error); programs build with
#   -DCMAKE_TOOLCHAIN_FILE=<prefix>/lib/cmake/Qt6/qt.toolchain.cmake
# The prefix is /var/cache/kestrum/qt6-<version>-mingw64 for root, else
# under ${XDG_CACHE_HOME:-~/.cache}/kestrum, or $KESTRUM_WINDOWS_QT.
#   scripts/build-windows-qt.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec 3>&1 1>&2

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# The host tools (moc, rcc, uic) come from Debian's Qt, and they must be
# of the very version that is built.
"$root/scripts/install-deps.sh"
"$root/scripts/install-deps.sh" --windows
dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends dpkg-dev
version="$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)"

if [ "$(id -u)" -eq 0 ]; then cache=/var/cache/kestrum; else cache="${XDG_CACHE_HOME:-$HOME/.cache}/kestrum"; fi
prefix="${KESTRUM_WINDOWS_QT:-$cache/qt6-$version-mingw64}"
stamp="$prefix/kestrum-qt.stamp"
# Qt's qt.toolchain.cmake names this file by its absolute path, so it
# lives in the cache next to the Qt that needs it.
toolchain="$prefix/lib/cmake/mingw-w64-x86_64-qt.cmake"

# Only what the panel, the simulator and their suites use: the local
# socket is Network's. Debian's source lacks the tablet headers.
options=(
    -release -shared -prefix "$prefix" -xplatform win32-g++
    -qt-host-path /usr -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu -no-feature-sql -no-feature-concurrent
    -no-feature-xml -no-feature-printsupport -no-feature-tabletevent
)
key="$version ${options[*]} $(sha256sum < "$root/cmake/mingw-w64-x86_64-qt.cmake" | cut -c1-16)"

if [ "$(cat "$stamp" 2>/dev/null)" = "$key" ]; then
    echo "$prefix" >&3
    exit 0
fi
# Never wipe a directory this script did not make.
if [ -n "$(ls -A "$prefix" 2>/dev/null)" ] && [ ! -f "$stamp" ]; then
    echo "build-windows-qt: $prefix exists and is not a Qt built here; remove it or set KESTRUM_WINDOWS_QT" >&2
    exit 1
fi
rm -rf "$prefix"
mkdir -p "$(dirname "$toolchain")"
echo incomplete > "$stamp"
cp "$root/cmake/mingw-w64-x86_64-qt.cmake" "$toolchain"

# Sources of the configured Debian archives, in the format they use.
add_deb_src() {
    local lists=() sources=() file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] && lists+=("$file")
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] && sources+=("$file")
    done
    if [ ${#lists[@]} -gt 0 ]; then
        sed -n 's/^[[:space:]]*deb\([[:space:]].*debian.*\)$/deb-src\1/p' "${lists[@]}" |
            "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/kestrum-deb-src.list > /dev/null
    fi
    if [ ${#sources[@]} -gt 0 ]; then
        awk -v RS= -v ORS='\n\n' '{
            n = split($0, line, "\n"); binary = 0; debian = 0; text = ""
            for (i = 1; i <= n; i++) {
                if (line[i] ~ /^Types:/) {
                    binary = line[i] ~ /[ \t]deb([ \t]|$)/ && line[i] !~ /deb-src/
                    line[i] = "Types: deb-src"
                }
                if (line[i] ~ /^URIs:.*debian/) debian = 1
                text = text line[i] (i < n ? "\n" : "")
            }
            if (binary && debian) print text
        }' "${sources[@]}" | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/kestrum-deb-src.sources > /dev/null
    fi
}
has_source() {
    apt-cache showsrc --only-source qt6-base 2>/dev/null | grep -qx "Version: $version"
}
if ! has_source; then
    echo "Adding deb-src entries for the Debian archives"
    add_deb_src
    "${sudo_cmd[@]}" apt-get update -qq
    has_source || { echo "build-windows-qt: no source of qt6-base $version in the Debian archives" >&2; exit 1; }
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/kestrum-qt.XXXXXX")"
# A failed build stays for a look at its logs.
finish() {
    if [ $? -eq 0 ]; then rm -rf "$scratch"; else echo "build-windows-qt: failed; the build is kept in $scratch" >&2; fi
}
trap finish EXIT

cd "$scratch"
apt-get source -qq --only-source "qt6-base=$version"
source_dir="$(find "$scratch" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*')"
mkdir build
cd build

SECONDS=0
"$source_dir/configure" "${options[@]}" -- \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
echo "Configured in ${SECONDS} s"
SECONDS=0
nice -n 19 cmake --build . --parallel "$(nproc)"
echo "Built in $((SECONDS / 60)) min $((SECONDS % 60)) s"
cmake --install . > /dev/null
echo "$key" > "$stamp"
echo "Installed $(du -sh "$prefix" | cut -f1) into $prefix"
echo "$prefix" >&3
