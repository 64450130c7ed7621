#!/usr/bin/env bash
# Renders docs/capture-tab.png and docs/configuration-tab.png: the real program
# under a virtual X server, fed by the scale simulator.
#   docs/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/default}
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT

display=:$((300 + $$ % 300))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/quorvel" -m 700 "$XDG_RUNTIME_DIR"
"$bin/tools/quorvel-sim/quorvel-sim" --brand Precision --weight 1234.5 --link "$work/scale" >/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/scale" ] && [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
printf '[Configura\xe7\xe3o]\r\nPasta=C:\\Pesagem\r\nBalan\xe7a=Precision\r\nPorta=1\r\nVelocidade=9600\r\nDivisor=10\r\n[Portas]\r\nCOM1=%s\r\n' \
  "$work/scale" >"$XDG_CONFIG_HOME/quorvel/quorvel.ini"

"$bin/shell/quorvel" 2>/dev/null &
pids+=($!)
wid=$(xdotool search --sync --onlyvisible --name '^Quorvel 1\.1$' | head -n1)
xdotool windowfocus --sync "$wid"
sleep 1.5
import -window "$wid" docs/capture-tab.png
xdotool key --delay 80 ctrl+k ctrl+Tab
sleep 0.8
import -window "$wid" docs/configuration-tab.png
echo "docs/capture-tab.png docs/configuration-tab.png"
