#!/bin/sh
# Builds and runs the whole test suite. Usage: scripts/test.sh [PRESET]
# PRESET is release (default), dev or asan (AddressSanitizer and
# UndefinedBehaviorSanitizer).
set -eu
cd "$(dirname "$0")/.."
preset="${1:-release}"
"$(pwd)/scripts/install-deps.sh"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
