#!/usr/bin/env bash
# The test command: installs what is missing, builds everything and runs the
# suite twice: the Linux build, then the Windows build under Wine. Arguments go
# to both ctest runs (for example -R Profile).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default
cmake --build --preset default
ctest --preset default "$@"

cmake --preset windows
cmake --build --preset windows
# A pattern may match Linux tests only; the Windows run then has nothing to do.
if [ $# -gt 0 ]; then
  ctest --preset windows --no-tests=ignore "$@"
else
  ctest --preset windows
fi
