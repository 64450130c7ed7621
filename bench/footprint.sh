#!/usr/bin/env bash
# Footprint of the running program under Xvfb, fed by the simulator with a
# positive weight that keeps changing: time from start to the window on screen,
# CPU use while capturing, resident memory. Not part of the test run.
#   bench/footprint.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bin=${2:-build/default}
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT

display=:$((400 + $$ % 300))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/quorvel" "$work/handoff" && mkdir -m 700 "$XDG_RUNTIME_DIR"
"$bin/tools/quorvel-sim/quorvel-sim" --brand TOL --ramp 1:90:0.25 --interval 250 \
  --link "$work/scale" >/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/scale" ] && [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
printf '[Configura\xe7\xe3o]\r\nPasta=%s\r\nBalan\xe7a=TOL\r\nPorta=1\r\nVelocidade=9600\r\n[Portas]\r\nCOM1=%s\r\n' \
  "$work/handoff" "$work/scale" >"$XDG_CONFIG_HOME/quorvel/quorvel.ini"

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }

start=$(date +%s%N)
"$bin/shell/quorvel" 2>/dev/null &
pid=$!
pids+=($pid)
until xdotool search --onlyvisible --name '^Quorvel 1\.1$' >/dev/null 2>&1; do sleep 0.005; done
shown=$(date +%s%N)
printf 'start to window on screen: %d ms\n' $(((shown - start) / 1000000))

for _ in $(seq 100); do [ -s "$work/handoff/quorvel.txt" ] && break; sleep 0.1; done
sleep 2  # past start-up
c0=$(cpu "$pid") t0=$(date +%s%N)
sleep "$seconds"
c1=$(cpu "$pid") t1=$(date +%s%N)
awk -v c=$((c1 - c0)) -v hz="$ticks" -v ns=$((t1 - t0)) -v s="$seconds" \
  'BEGIN { printf "CPU while capturing for %d s: %.2f %% of one core\n", s, 100 * c / hz / (ns / 1e9) }'
grep -E '^(VmRSS|VmHWM|RssAnon|RssFile)' "/proc/$pid/status"
echo "hand-off file now: $(tr -d '\r' <"$work/handoff/quorvel.txt" | paste -sd' ')"
