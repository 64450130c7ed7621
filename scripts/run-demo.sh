#!/usr/bin/env bash
# Runs Quorvel against the bundled scale simulator, so that weighing can be seen
# working without a scale. Everything lives in a temporary folder: the
# configuration, the simulated port and the hand-off file. Ctrl+C stops it all.
#
#   scripts/run-demo.sh [--brand TOL|DIG|FIL|Precision]
set -euo pipefail
cd "$(dirname "$0")/.."
brand=TOL
[ "${1:-}" = "--brand" ] && brand="${2:?--brand needs a value}"

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorvel quorvel-sim quorvel-ini
bin=build/default

work=$(mktemp -d /tmp/quorvel-demo.XXXXXX)
pids=()
cleanup() {
  trap - INT TERM EXIT
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
  echo
  echo "demo: stopped; removed $work"
}
trap 'cleanup; exit 0' INT TERM
trap cleanup EXIT

# A weight that moves: a ramp from 0 to 25 kg in steps of 0.5.
"$bin/tools/quorvel-sim/quorvel-sim" --brand "$brand" --ramp 0:25:0.5 --interval 300 \
  --link "$work/scale" >"$work/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/scale" ] && break; sleep 0.1; done
[ -e "$work/scale" ] || { echo "demo: the simulator did not start:"; cat "$work/sim.out"; exit 1; }

# The configuration file is Windows-1252: "Configuração" and "Balança" as bytes.
export XDG_CONFIG_HOME="$work/config"
[ -n "${XDG_RUNTIME_DIR:-}" ] || { export XDG_RUNTIME_DIR="$work/runtime"; mkdir -m 700 "$XDG_RUNTIME_DIR"; }
mkdir -p "$XDG_CONFIG_HOME/quorvel" "$work/handoff"
printf '[Configura\xe7\xe3o]\r\nPasta=%s\r\nBalan\xe7a=%s\r\nPorta=1\r\nVelocidade=9600\r\nDivisor=10\r\n[Portas]\r\nCOM1=%s\r\n' \
  "$work/handoff" "$brand" "$work/scale" >"$XDG_CONFIG_HOME/quorvel/quorvel.ini"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.out" 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  echo "demo: no display here; Quorvel runs on the virtual display $DISPLAY"
fi

"$bin/shell/quorvel" &
pids+=($!)

handoff="$work/handoff/quorvel.txt"
echo "demo: scale simulator ($brand) on $(head -n1 "$work/sim.out"), linked as $work/scale"
echo "demo: configuration $XDG_CONFIG_HOME/quorvel/quorvel.ini"
echo "demo: hand-off file $handoff; its section follows (Ctrl+C to stop)"
last=""
while kill -0 "${pids[-1]}" 2>/dev/null; do
  if [ -f "$handoff" ]; then
    now=$(tr -d '\r' <"$handoff")
    if [ "$now" != "$last" ]; then
      printf '%s  %s\n' "$(date +%T)" "$(echo "$now" | paste -sd' ')"
      last=$now
    fi
  fi
  sleep 0.2
done
echo "demo: Quorvel has ended"
