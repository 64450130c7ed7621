#!/usr/bin/env bash
# Many workstations on one shared hand-off file: 32 capture processes with
# distinct computer names write it twice a second while readers read it without
# pause; reports writes, sections lost and torn reads (bench/load/load.cpp).
#
#   scripts/load-test.sh [SECONDS] [-- extra quorvel-load options]
#
# SECONDS defaults to 60. LOAD_BUILD_DIR picks the build folder (default
# build/default, configured with the "default" preset); LOAD_FOLDER the folder
# that is shared (default: a fresh temporary folder, removed afterwards).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in '' | *[!0-9]*)
  echo "usage: scripts/load-test.sh [SECONDS] [-- options]" >&2
  exit 2
  ;;
esac
shift $(($# > 0 ? 1 : 0))
[ "${1:-}" = "--" ] && shift

build=${LOAD_BUILD_DIR:-build/default}
if [ "$build" = build/default ]; then
  cmake --preset default >/dev/null
fi
cmake --build "$build" --target quorvel-load

folder=${LOAD_FOLDER:-}
cleanup=""
if [ -z "$folder" ]; then
  folder=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-load-XXXXXX")
  cleanup=$folder
fi
trap '[ -n "$cleanup" ] && rm -rf "$cleanup"' EXIT

"$build/bench/load/quorvel-load" --seconds "$seconds" "$@" "$folder/Pesagem"
