#!/usr/bin/env bash
# Footprint of the Windows program under Wine, fed by the Linux simulator on
# COM1 with a positive weight that keeps changing: the size of the shipped
# quorvel.exe, start to window on screen against a minimal Win32 dialog
# (bench/footprint_win32) under the same Wine, CPU while capturing and the
# working set. Not part of the test run; Wine adds its own costs to every
# figure, the baseline shows how much of the start is Wine's.
#   bench/footprint-windows.sh [SECONDS] [WINDOWS_BUILD_DIR] [LINUX_BUILD_DIR]
# (build first: cmake --build --preset windows --target quorvel footprint_baseline
#  and cmake --build --preset default --target quorvel-sim)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
win=${2:-build/windows}
linux=${3:-build/default}
. scripts/sim-env.sh

# The program as shipped: stripped, alone in a folder.
mkdir -p "$work/bin"
x86_64-w64-mingw32-strip -o "$work/bin/quorvel.exe" "$win/shell/quorvel.exe"
cp "$win/bench/footprint_win32/footprint_baseline.exe" "$work/bin/"
printf 'quorvel.exe: %d bytes stripped (%d as built), imports %s\n' \
  "$(stat -c %s "$work/bin/quorvel.exe")" "$(stat -c %s "$win/shell/quorvel.exe")" \
  "$(x86_64-w64-mingw32-objdump -p "$work/bin/quorvel.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | paste -sd' ')"

start_xvfb
start_wine
start_sim "$linux/tools/quorvel-sim/quorvel-sim" --brand TOL --ramp 1:90:0.25 --interval 250
map_com COM1 "$work/scale"
mkdir -p "$work/handoff"
write_config_windows TOL "$work/handoff"

# ms from the process start until its window is mapped; the process is ended
# again unless KEEP is set, then its pid is left in $started.
shown_after() {
  local exe=$1 title=$2 t0 t1
  t0=$(date +%s%N)
  wine "$exe" >/dev/null 2>&1 &
  started=$!
  until xdotool search --onlyvisible --name "$title" >/dev/null 2>&1; do sleep 0.005; done
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
  if [ -z "${KEEP:-}" ]; then
    kill "$started" && wait "$started" 2>/dev/null || true
    wait_until 10 bash -c "! xdotool search --onlyvisible --name '$title' >/dev/null 2>&1" || true
  fi
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The first Wine program of a session starts Wine's own services: not counted.
shown_after "$work/bin/footprint_baseline.exe" '^Footprint baseline$' >/dev/null
runs=5
base=$(for _ in $(seq $runs); do shown_after "$work/bin/footprint_baseline.exe" '^Footprint baseline$'; done | median)
prog=$(for _ in $(seq $runs); do shown_after "$work/bin/quorvel.exe" '^Quorvel 1\.1$'; done | median)
awk -v b="$base" -v p="$prog" -v n=$runs \
  'BEGIN { printf "start to window on screen (median of %d): quorvel.exe %d ms, minimal dialog %d ms, ratio %.2f\n", n, p, b, p / b }'

KEEP=1 shown_after "$work/bin/quorvel.exe" '^Quorvel 1\.1$' >/dev/null
pid=$started
track $pid
wait_until 10 test -s "$work/handoff/quorvel.txt"
sleep 2 # past start-up

# Wine's side of the program runs in other processes (wineserver above all):
# every process of this prefix counts.
prefix_pids() {
  local p
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "${p#/proc/}"
  done
}
ticks() { local t=0 p; for p in "$@"; do t=$((t + $(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0))); done; echo $t; }
hz=$(getconf CLK_TCK)
mapfile -t all < <(prefix_pids)
p0=$(ticks "$pid") a0=$(ticks "${all[@]}") t0=$(date +%s%N)
sleep "$seconds"
p1=$(ticks "$pid") a1=$(ticks "${all[@]}") t1=$(date +%s%N)
awk -v p=$((p1 - p0)) -v a=$((a1 - a0)) -v hz="$hz" -v ns=$((t1 - t0)) -v s="$seconds" -v n=${#all[@]} 'BEGIN {
  m = ns / 1e9 / 60
  printf "CPU while capturing for %d s: quorvel.exe %.2f s per minute, all %d processes of the prefix %.2f s per minute (%.2f %% of one core)\n",
    s, p / hz / m, n, a / hz / m, 100 * a / hz / (ns / 1e9) }'
echo "working set of quorvel.exe's process:"
grep -E '^(VmRSS|VmHWM|RssAnon|RssFile)' "/proc/$pid/status"
echo "hand-off file now: $(tr -d '\r' <"$work/handoff/quorvel.txt" | paste -sd' ')"
