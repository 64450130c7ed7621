#!/usr/bin/env bash
# The test command: installs what is missing, builds everything and runs the suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default
cmake --build --preset default
ctest --preset default "$@"
