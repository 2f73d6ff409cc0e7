#!/usr/bin/env bash
# Builds the Debian packages of the panel: installs what is missing,
# configures the package preset (a Release build without the tests in
# build-package/) with Debian's hardening flags and lets CPack make the package from the install
# rules: the user's package and the simulator's. Prints their paths.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --package

build_dir=build-package
# All of Debian's hardening, immediate binding too.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake --preset package \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" > /dev/null
cmake --build --preset package

# Only the packages just made in the directory.
rm -f "$build_dir"/*.deb
cpack --preset package > /dev/null
ls "$PWD/$build_dir"/*.deb
