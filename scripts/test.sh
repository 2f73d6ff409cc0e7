#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite with CTest:
# the Linux suites (the desktop suite on an X display of its own, with its
# screenshots in build/tests/desktop-screenshots/), then the Windows half
# under Wine (scripts/test-windows.sh).
# --sanitize runs the Linux suites built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and leaves the Windows half out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --desktop --package
scripts/build.sh "$@"

build_dir=build
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-sanitize
    # intercept_strndup=0: the X keyboard library copies key names with
    # strndup past their end on every X connection (the desktop suite).
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:intercept_strndup=0"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

(cd "$build_dir" && ctest --output-on-failure -j2)

if [ "${1:-}" != "--sanitize" ]; then
    scripts/test-windows.sh
fi
