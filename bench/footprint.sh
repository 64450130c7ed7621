#!/usr/bin/env bash
# Footprint of the running program under Xvfb, fed by the simulator with a
# positive weight that keeps changing: time from start to the window on screen,
# CPU use while capturing, resident memory. Not part of the test run.
#   bench/footprint.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bin=${2:-build/default}
. scripts/sim-env.sh

start_xvfb
start_sim "$bin/tools/quorvel-sim/quorvel-sim" --brand TOL --ramp 1:90:0.25 --interval 250
mkdir -p "$work/handoff"
write_config TOL "$work/handoff"

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }

start=$(date +%s%N)
"$bin/shell/quorvel" 2>/dev/null &
pid=$!
track $pid
until xdotool search --onlyvisible --name '^Quorvel 1\.1$' >/dev/null 2>&1; do sleep 0.005; done
shown=$(date +%s%N)
printf 'start to window on screen: %d ms\n' $(((shown - start) / 1000000))

wait_until 10 test -s "$work/handoff/quorvel.txt"
sleep 2 # past start-up
c0=$(cpu "$pid") t0=$(date +%s%N)
sleep "$seconds"
c1=$(cpu "$pid") t1=$(date +%s%N)
awk -v c=$((c1 - c0)) -v hz="$ticks" -v ns=$((t1 - t0)) -v s="$seconds" \
  'BEGIN { printf "CPU while capturing for %d s: %.2f %% of one core\n", s, 100 * c / hz / (ns / 1e9) }'
grep -E '^(VmRSS|VmHWM|RssAnon|RssFile)' "/proc/$pid/status"
echo "hand-off file now: $(tr -d '\r' <"$work/handoff/quorvel.txt" | paste -sd' ')"
