#!/usr/bin/env bash
# Renders docs/windows-capture-tab.png and docs/windows-configuration-tab.png:
# quorvel.exe as Wine draws it, on the X server of the Wine run, fed by the
# scale simulator on a pseudo-terminal mapped to COM1.
#   docs/windows-screenshots.sh [WINDOWS_BUILD_DIR] [LINUX_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
win=${1:-build/windows}
linux=${2:-build/default}
. scripts/sim-env.sh

eval "$("$win/wine-run" --env)"
ini="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Quorvel/quorvel.ini"
saved="$work/saved.ini"
[ -f "$ini" ] && cp -p "$ini" "$saved"
restore() {
  if [ -f "$saved" ]; then cp -p "$saved" "$ini"; else rm -f "$ini"; fi
  stop_tracked
}
trap restore EXIT

start_sim "$linux/tools/quorvel-sim/quorvel-sim" --brand Precision --weight 1234.5
"$win/wine-run" --map-com COM1 "$(readlink -f "$work/scale")"
mkdir -p "$(dirname "$ini")"
printf '[Configura\xe7\xe3o]\r\nPasta=C:\\Pesagem\r\nBalan\xe7a=Precision\r\nPorta=1\r\nVelocidade=9600\r\nDivisor=10\r\n' >"$ini"
"$win/wine-run" "$win/shell/quorvel.exe" 2>/dev/null &
track $!
wid=""
for _ in $(seq 50); do
  wid=$(xdotool search --onlyvisible --name '^Quorvel 1\.1$' 2>/dev/null | head -n1 || true)
  [ -n "$wid" ] && xdotool windowfocus --sync "$wid" 2>/dev/null && break
  sleep 0.3
done
[ -n "$wid" ] || { echo "no window" >&2; exit 1; }
sleep 2
import -window "$wid" docs/windows-capture-tab.png
xdotool key --delay 80 ctrl+k ctrl+Tab
sleep 0.8
import -window "$wid" docs/windows-configuration-tab.png
xdotool key --delay 80 ctrl+Tab alt+f
echo "docs/windows-capture-tab.png docs/windows-configuration-tab.png"
