#!/usr/bin/env bash
# Runs the Windows serial tests under Wine against simulated scales: starts one
# quorvel-sim per COM port (and a burst line), each on a pseudo-terminal behind
# a link in a temporary folder, maps COM1 to COM7 to those links, runs the test
# program and stops the simulators. The ports and what they carry are listed at the top of
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
burst=
cleanup() {
  local p
  # A background job of a script ignores SIGINT: the watcher of the scale that
  # comes back and the burst line are stopped with SIGTERM.
  kill -TERM "$watcher" "$burst" 2>/dev/null || true
  wait "$watcher" "$burst" 2>/dev/null || true
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

scale 1 --brand TOL --weight 12.5 --interval 20
# COM2: a line that sends 64 KiB at once when the test asks, and never drops a
# byte: its writes wait while the line is full.
python3 - "$dir" <<'PY' &
import os, pty, sys, time, tty
folder = sys.argv[1]
master, terminal = pty.openpty()
tty.setraw(terminal)  # held open, so the line stays raw for whoever opens it
os.symlink(os.ttyname(terminal), folder + "/com2")
while not os.path.exists(folder + "/burst"):
    time.sleep(0.02)
data = memoryview(bytes(range(256)) * 256)
while data:
    data = data[os.write(master, data):]
time.sleep(3600)
PY
burst=$!
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
done
# What "wine-run --map-com" does for one port, for all seven at once: one Wine
# process writes the registry values from which Wine rebuilds its device links
# when it starts, and the links take effect at once for the running Wine.
eval "$("$wine_run" --env)"
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
  for n in 1 2 3 4 5 6 7; do printf '"COM%d"="%s"\r\n' "$n" "$dir/com$n"; done
} >"$dir/ports.reg"
"$wine_run" reg import "Z:${dir//\//\\}\\ports.reg" >/dev/null
for n in 1 2 3 4 5 6 7; do ln -sfn "$dir/com$n" "$WINEPREFIX/dosdevices/com$n"; done

rc=0
QUORVEL_TEST_DIR=$dir "$wine_run" "$exe" "$@" || rc=$?
exit "$rc"
