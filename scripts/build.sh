#!/usr/bin/env bash
# Builds everything, or the targets given, with the dev preset into build/
# (or the sanitize preset into build-sanitize/ with --sanitize:
# AddressSanitizer and UndefinedBehaviorSanitizer).
#   scripts/build.sh [--sanitize] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

preset=dev
if [ "${1:-}" = "--sanitize" ]; then
    preset=sanitize
    shift
fi

targets=()
[ $# -eq 0 ] || targets=(--target "$@")
cmake --preset "$preset" > /dev/null
cmake --build --preset "$preset" "${targets[@]}"
