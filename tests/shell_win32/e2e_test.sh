#!/usr/bin/env bash
# Drives quorvel.exe under Wine as a person would, on the virtual X server of
# the Wine run: a simulated scale on a pseudo-terminal mapped to COM1, real key
# presses and clicks (xdotool), a close from the frame. What the window shows is
# read by probe.exe, a Windows program on the same desktop.
#
#   e2e_test.sh WINE_RUN QUORVEL_EXE PROBE_EXE QUORVEL_SIM SCREENSHOT_DIR
set -euo pipefail
wine_run=$1 quorvel=$2 probe=$3 sim=$4 shots=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/sim-env.sh"
step="start"

eval "$("$wine_run" --env)"
[ -n "${DISPLAY:-}" ] || { echo "e2e: the Wine run has no X server" >&2; exit 1; }
appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
ini="$appdata/Quorvel/quorvel.ini"
# The run's prefix is shared: a configuration found there is put back afterwards.
saved="$work/saved.ini"
[ -f "$ini" ] && cp -p "$ini" "$saved"

finish() {
  local rc=$?
  if [ $rc -ne 0 ]; then
    mkdir -p "$shots"
    import -window root "$shots/e2e-windows-failure.png" 2>/dev/null &&
      echo "e2e: failed at '$step'; screenshot in $shots/e2e-windows-failure.png" ||
      echo "e2e: failed at '$step'"
    for f in "$work"/*.log; do [ -s "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }; done
  fi
  if [ -f "$saved" ]; then cp -p "$saved" "$ini"; else rm -f "$ini"; fi
  stop_tracked
  exit $rc
}
trap finish EXIT

fail() { echo "e2e: $*" >&2; exit 1; }

step="scale simulator on COM1"
start_sim "$sim" --brand Precision --weight 12.5 --divisor 10 --interval 100
"$wine_run" --map-com COM1 "$(readlink -f "$work/scale")"

step="configuration in the user's application data"
mkdir -p "$work/handoff" "$(dirname "$ini")"
folder="Z:$(echo "$work/handoff" | tr / '\\')"
printf '[Configura\xe7\xe3o]\r\nPasta=%s\r\nBalan\xe7a=Precision\r\nPorta=1\r\nVelocidade=9600\r\nDivisor=10\r\n' \
  "$folder" >"$ini"
handoff="$work/handoff/quorvel.txt"
peso_is() { grep -q "^Peso=$1"$'\r'"\?$" "$handoff" 2>/dev/null; }
probe() { "$wine_run" "$probe" "$@" 2>/dev/null | tr -d '\r'; }
shows() { [ "$(probe text "$1")" = "$2" ]; }

start_quorvel() {
  "$wine_run" "$quorvel" >"$work/quorvel.log" 2>&1 &
  qpid=$!
  track $qpid
  # Wine may replace the X window of a window that it shows: focus the one that stays.
  for _ in $(seq 50); do
    wid=$(xdotool search --onlyvisible --name '^Quorvel 1\.1$' 2>/dev/null | head -n1 || true)
    [ -n "$wid" ] && xdotool windowfocus --sync "$wid" 2>/dev/null && return 0
    sleep 0.3
  done
  fail "no window"
}
key() { xdotool key --clearmodifiers --delay 60 "$@"; sleep 0.2; }
click_control() {
  local at
  at=$(probe point "$1") || fail "no control $1"
  # shellcheck disable=SC2086
  xdotool mousemove --sync $at click 1
  sleep 0.2
}
ends_with_zero() {
  local rc=0
  wait_until 10 bash -c "! kill -0 $qpid 2>/dev/null" || fail "the program did not end"
  wait "$qpid" || rc=$?
  [ $rc -eq 0 ] || fail "exit code $rc"
}

step="first start: the weight appears"
start_quorvel
wait_until 15 peso_is 12.5 || fail "hand-off file: $(cat "$handoff" 2>/dev/null)"
grep -q $'^Ativo=1\r$' "$handoff" || fail "hand-off file: $(cat -v "$handoff")"
wait_until 5 shows 8 12,500 || fail "the window shows the weight '$(probe text 8)'"

step="Ctrl+K opens the configuration tab"
key ctrl+Tab
[ "$(probe tab)" = 0 ] || fail "the configuration tab opened before Ctrl+K"
key ctrl+k ctrl+Tab
wait_until 5 test "$(probe tab)" = 1 || fail "the configuration tab did not open"
shows 21 10 || fail "the divisor field shows '$(probe text 21)'"
[ "$(probe shown 22)" = 1 ] && [ "$(probe shown 10)" = 0 ] || fail "the buttons of the tabs"

step="a changed divisor applies at the next tick"
click_control 21
key End BackSpace BackSpace BackSpace BackSpace
xdotool type --delay 60 100
key Tab
wait_until 5 peso_is 1.25 || fail "hand-off file: $(cat "$handoff")"

step="Save writes the configuration in Windows-1252 and stops the capture"
key alt+g
wait_until 5 grep -q $'^Divisor=100\r$' "$ini" || fail "quorvel.ini: $(cat -v "$ini")"
grep -q $'^\\[Configura\xe7\xe3o\\]\r$' "$ini" || fail "section not in Windows-1252: $(cat -v "$ini")"
grep -q $'^Balan\xe7a=Precision\r$' "$ini" || fail "brand not saved: $(cat -v "$ini")"
sleep 0.6
: >"$handoff"
sleep 1.5
[ ! -s "$handoff" ] || fail "the capture went on after Save: $(cat "$handoff")"

step="close from the window frame"
/usr/bin/python3 "$here/../shell/wm_close.py" "$wid"
ends_with_zero

step="restart on the same line reads the saved settings; Alt+F ends it"
start_quorvel
wait_until 15 peso_is 1.25 || fail "hand-off file after restart: $(cat "$handoff")"
wait_until 5 shows 21 100 || fail "the divisor field shows '$(probe text 21)'"
key alt+f
ends_with_zero
echo "e2e: passed"
