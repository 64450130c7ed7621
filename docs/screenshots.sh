#!/usr/bin/env bash
# Renders docs/capture-tab.png and docs/configuration-tab.png: the real program
# under a virtual X server, fed by the scale simulator.
#   docs/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/default}
. scripts/sim-env.sh

start_xvfb
start_sim "$bin/tools/quorvel-sim/quorvel-sim" --brand Precision --weight 1234.5
write_config Precision 'C:\Pesagem'
"$bin/shell/quorvel" 2>/dev/null &
track $!
wid=$(xdotool search --sync --onlyvisible --name '^Quorvel 1\.1$' | head -n1)
xdotool windowfocus --sync "$wid"
sleep 1.5
import -window "$wid" docs/capture-tab.png
xdotool key --delay 80 ctrl+k ctrl+Tab
sleep 0.8
import -window "$wid" docs/configuration-tab.png
echo "docs/capture-tab.png docs/configuration-tab.png"
