#!/usr/bin/env bash
# The demo of the Windows build (scripts/run-demo.sh --windows): quorvel.exe
# under Wine against the Linux scale simulator, whose pseudo-terminal is COM1
# of a Wine prefix made for the demo in its temporary folder. The configuration
# is the prefix's %APPDATA%\Quorvel\quorvel.ini; the hand-off folder is in the
# temporary folder too. Ctrl+C stops everything and removes the folder.
#
#   scripts/run-demo-windows.sh BRAND      (after scripts/setup.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
brand=${1:-TOL}

# The simulator is a Linux program; quorvel.exe comes from the cross build.
cmake --preset default >/dev/null
cmake --build --preset default --target quorvel-sim
cmake --preset windows >/dev/null
cmake --build --preset windows --target quorvel
sim=build/default/tools/quorvel-sim/quorvel-sim
exe=build/windows/shell/quorvel.exe

. scripts/sim-env.sh
trap 'exit 0' INT TERM
trap 'stop_tracked; echo; echo "demo: stopped; removed $work"' EXIT

virtual=false
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb
  virtual=true
  echo "demo: no display here; Quorvel runs on the virtual display $DISPLAY"
fi
echo "demo: making a Wine prefix of its own (about half a minute)"
start_wine

start_sim "$sim" --brand "$brand" --ramp 0:25:0.5 --interval 300
map_com COM1 "$work/scale"
mkdir -p "$work/handoff"
write_config_windows "$brand" "$work/handoff"

wine "$exe" >"$work/quorvel.log" 2>&1 &
quorvel=$!
track $quorvel

if $virtual; then
  show_window $quorvel 30
fi

handoff="$work/handoff/quorvel.txt"
echo "demo: scale simulator ($brand) on $(head -n1 "$work/sim.log"), COM1 of the Wine prefix $WINEPREFIX"
echo "demo: configuration $WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Quorvel/quorvel.ini"
echo "demo: hand-off file $(windows_path "$handoff") = $handoff; its section follows (Ctrl+C to stop)"
follow_handoff "$handoff" $quorvel
echo "demo: Quorvel has ended"
