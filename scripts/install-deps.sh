#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing: those the build, the
# panel (with a font for its Chinese texts) and the tests need; with
# --desktop also the X display, window manager, notification area and
# pointer driver of the desktop suite; with --package also the tools that
# build the Debian package and check it (library dependencies, lintian,
# the desktop entry and metainfo validators); with --windows only those
# that cross-compile the Windows half and run its tests under Wine, and
# NSIS, which makes the Windows installer. --check installs nothing: it
# names what is missing and fails, for the suites, which never install.
#   scripts/install-deps.sh [--check] [--desktop] [--package] | [--check] --windows
set -euo pipefail

packages=(
    cmake ninja-build g++
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-l10n-tools qt6-tools-dev libgl-dev fonts-wqy-microhei
)
check=
asked=()
for option in "$@"; do
    [ "$option" = --check ] || asked+=("$option")
    case "$option" in
        --check) check=1 ;;
        --desktop) packages+=(xvfb xauth openbox trayer xdotool) ;;
        --package) packages+=(dpkg-dev fakeroot file lintian desktop-file-utils appstream) ;;
        --windows) packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64 nsis) ;;
        *) echo "usage: scripts/install-deps.sh [--check] [--desktop] [--package] | [--check] --windows" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ -n "$check" ]; then
    echo "missing: ${missing[*]}; run scripts/install-deps.sh${asked[*]/#/ }" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
