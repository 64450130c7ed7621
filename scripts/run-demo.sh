#!/usr/bin/env bash
# Runs Quorvel against the bundled scale simulator, so that weighing can be seen
# working without a scale. Everything lives in a temporary folder: the
# configuration, the simulated port and the hand-off file. Ctrl+C stops it all.
#
#   scripts/run-demo.sh [--windows] [--brand TOL|DIG|FIL|Precision]
#
# --windows runs the Windows build under Wine, in a Wine prefix of the demo's
# own, with the simulator's pseudo-terminal as COM1.
set -euo pipefail
cd "$(dirname "$0")/.."
brand=TOL
windows=false
while [ $# -gt 0 ]; do
  case "$1" in
    --brand) brand="${2:?--brand needs a value}"; shift 2 ;;
    --windows) windows=true; shift ;;
    *) echo "usage: scripts/run-demo.sh [--windows] [--brand TOL|DIG|FIL|Precision]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh
if $windows; then
  exec scripts/run-demo-windows.sh "$brand"
fi
cmake --preset default >/dev/null
cmake --build --preset default --target quorvel quorvel-sim quorvel-ini
bin=build/default

. scripts/sim-env.sh
trap 'exit 0' INT TERM
trap 'stop_tracked; echo; echo "demo: stopped; removed $work"' EXIT

# A weight that moves: a ramp from 0 to 25 kg in steps of 0.5.
start_sim "$bin/tools/quorvel-sim/quorvel-sim" --brand "$brand" --ramp 0:25:0.5 --interval 300
mkdir -p "$work/handoff"
write_config "$brand" "$work/handoff"
virtual=false
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  start_xvfb
  virtual=true
  echo "demo: no display here; Quorvel runs on the virtual display $DISPLAY"
fi

"$bin/shell/quorvel" &
quorvel=$!
track $quorvel

if $virtual; then
  show_window $quorvel 10
fi

handoff="$work/handoff/quorvel.txt"
echo "demo: scale simulator ($brand) on $(head -n1 "$work/sim.log"), linked as $work/scale"
echo "demo: configuration $XDG_CONFIG_HOME/quorvel/quorvel.ini"
echo "demo: hand-off file $handoff; its section follows (Ctrl+C to stop)"
follow_handoff "$handoff" $quorvel
echo "demo: Quorvel has ended"
