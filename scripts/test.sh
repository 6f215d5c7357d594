#!/usr/bin/env bash
# Builds the library, its programs and tests, and runs every test: the normal
# build, then AddressSanitizer+UndefinedBehaviorSanitizer, then ThreadSanitizer,
# then a short run of each fuzz target (25 s each; its ctest tests).
# Usage: scripts/test.sh [preset ...]   (default: default asan tsan fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan fuzz)
for preset in "${presets[@]}"; do
    echo "=== ${preset}: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "=== ${preset}: test"
    ctest --preset "$preset"
done
echo "=== exported symbols"
scripts/check-exports.sh build/default/libDruxLauncher.so
