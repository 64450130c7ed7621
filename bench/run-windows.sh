#!/usr/bin/env bash
# Runs the Windows benchmarks under Wine, in the build's own prefix with one
# wineserver for the whole run. Not part of the test run.
#   bench/run-windows.sh [--build] [BENCHMARK OPTION...]
# --build builds the benchmarks first (preset windows); the options go to every
# benchmark program (for example --benchmark_filter=Write). BUILD_DIR overrides
# build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/windows}
if [ "${1:-}" = --build ]; then
  shift
  cmake --preset windows >/dev/null
  cmake --build "$build" --target profile_bench capture_bench
fi
run="$build/wine-run"
if [ ! -x "$run" ]; then
  echo "run-windows: no Windows build at $build (cmake --preset windows)" >&2
  exit 1
fi
trap '"$run" --stop' EXIT
for exe in "$build/bench/profile/profile_bench.exe" "$build/bench/scale/capture_bench.exe"; do
  if [ ! -f "$exe" ]; then
    echo "run-windows: $exe is not built (bench/run-windows.sh --build)" >&2
    exit 1
  fi
  echo "== $(basename "$exe") under Wine"
  "$run" "$exe" "$@"
done
