#!/usr/bin/env bash
# Runs the Windows serial tests under Wine against simulated scales: starts one
# quorvel-sim per COM port, each on a pseudo-terminal behind a link in a
# temporary folder, maps COM1 to COM7 to those links, runs the test program and
# stops the simulators. The ports and what they carry are listed at the top of
# serial_win32_test.cpp.
#
#   run.sh QUORVEL_SIM WINE_RUN TEST.exe [ARG...]
#
# QUORVEL_SIM is the Linux build's simulator; WINE_RUN is the build's Wine
# launcher (cmake/wine-run.sh behind build/windows/wine-run).
set -euo pipefail

sim=${1:?path of the Linux quorvel-sim}
wine_run=${2:?Wine launcher}
exe=${3:?test program}
shift 3
if [ ! -x "$sim" ]; then
  echo "run.sh: no simulator at $sim: build the Linux tree first (cmake --build build/default --target quorvel-sim)" >&2
  exit 1
fi

dir=$(mktemp -d /tmp/quorvel-serial-win32.XXXXXX)
pids=()
watcher=
cleanup() {
  local p
  # The scale that comes back runs under a watcher of its own, which a
  # background shell's ignored SIGINT would not stop.
  kill -TERM "$watcher" 2>/dev/null || true
  wait "$watcher" 2>/dev/null || true
  [ -f "$dir/com3.pid" ] && pids+=("$(cat "$dir/com3.pid")")
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT

scale() {  # scale N ARG...: a simulator for COMn
  local n=$1
  shift
  "$sim" --link "$dir/com$n" "$@" >/dev/null &
  pids+=($!)
}

for ((i = 0; i < 256; i++)); do printf "\\$(printf %03o "$i")"; done >"$dir/burst.bin"

scale 1 --brand TOL --weight 12.5 --interval 20
scale 2 --replay "$dir/burst.bin" --loop --interval 10
# COM3: a scale whose adapter is pulled out when the test asks, and plugged in
# again (a new pseudo-terminal behind the same link) a little later.
(
  "$sim" --link "$dir/com3" --brand TOL --weight 1 --interval 20 >/dev/null &
  echo $! >"$dir/com3.pid"
  while [ ! -e "$dir/unplug" ]; do sleep 0.05; done
  kill -INT "$(cat "$dir/com3.pid")"
  wait "$(cat "$dir/com3.pid")" || true
  sleep 0.7
  "$sim" --link "$dir/com3" --brand TOL --weight 2 --interval 20 >/dev/null &
  echo $! >"$dir/com3.pid"
  wait
) &
watcher=$!
scale 4 --brand Precision --weight 123.4 --interval 20
scale 5 --brand DIG --weight 1500 --interval 20
scale 6 --brand FIL --weight 0.25 --interval 20
scale 7 --brand TOL --weight 12.5 --interval 20

for n in 1 2 3 4 5 6 7; do
  for ((t = 0; t < 100; t++)); do
    [ -e "$dir/com$n" ] && break
    sleep 0.05
  done
  [ -e "$dir/com$n" ] || { echo "run.sh: the simulator for COM$n did not start" >&2; exit 1; }
  "$wine_run" --map-com "COM$n" "$dir/com$n"
done

rc=0
QUORVEL_TEST_DIR=$dir "$wine_run" "$exe" "$@" || rc=$?
exit "$rc"
