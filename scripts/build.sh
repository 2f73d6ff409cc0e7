#!/usr/bin/env bash
# Builds everything, or the targets given, into build/ (or build-sanitize/
# with --sanitize: AddressSanitizer and UndefinedBehaviorSanitizer).
#   scripts/build.sh [--sanitize] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-sanitize
    options=(-DCMAKE_BUILD_TYPE=Debug -DKESTRUM_SANITIZE=ON)
    shift
fi

cmake -S . -B "$build_dir" -G Ninja "${options[@]}" > /dev/null
ninja -C "$build_dir" "$@"
