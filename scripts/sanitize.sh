#!/usr/bin/env bash
# Builds the whole program and its tests under AddressSanitizer and
# UndefinedBehaviorSanitizer (preset "asan", build/asan) and runs the suite.
# Extra arguments go to ctest, e.g. scripts/sanitize.sh -R faults.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset asan
cmake --build --preset asan
ctest --preset asan "$@"
