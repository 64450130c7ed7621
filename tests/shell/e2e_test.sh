#!/usr/bin/env bash
# Drives the real program as a person would, under a virtual X server: a
# simulated scale on a pseudo-terminal, real key presses, a close from the frame.
#
#   e2e_test.sh QUORVEL QUORVEL_SIM SCREENSHOT_DIR
set -euo pipefail
quorvel=$1 sim=$2 shots=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/quorvel-e2e.XXXXXX)
pids=()
step="start"

finish() {
  local rc=$?
  if [ $rc -ne 0 ]; then
    mkdir -p "$shots"
    xwd -root -silent 2>/dev/null | convert xwd:- "$shots/e2e-failure.png" 2>/dev/null &&
      echo "e2e: failed at '$step'; screenshot in $shots/e2e-failure.png" ||
      echo "e2e: failed at '$step'"
    for f in "$work"/*.log; do [ -s "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }; done
  fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
  exit $rc
}
trap finish EXIT

fail() { echo "e2e: $*" >&2; exit 1; }
# wait_for SECONDS COMMAND...: until the command succeeds.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.1; done
}

display=:$((200 + $$ % 500))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
wait_for 10 test -S "/tmp/.X11-unix/X${display#:}" || fail "Xvfb did not start"

step="scale simulator"
"$sim" --brand Precision --weight 12.5 --divisor 10 --interval 100 --link "$work/scale" \
  >"$work/sim.log" 2>&1 &
pids+=($!)
wait_for 10 test -e "$work/scale" || fail "the simulator did not start"

export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
ini="$XDG_CONFIG_HOME/quorvel/quorvel.ini"
mkdir -p "$(dirname "$ini")" "$work/handoff"
printf '[Configura\xe7\xe3o]\r\nPasta=%s\r\nBalan\xe7a=Precision\r\nPorta=1\r\nVelocidade=9600\r\n[Portas]\r\nCOM1=%s\r\n' \
  "$work/handoff" "$work/scale" >"$ini"
handoff="$work/handoff/quorvel.txt"
peso_is() { grep -q "^Peso=$1"$'\r'"\?$" "$handoff" 2>/dev/null; }

start_quorvel() {
  "$quorvel" >"$work/quorvel.log" 2>&1 &
  qpid=$!
  pids+=($qpid)
  wid=$(xdotool search --sync --onlyvisible --name '^Quorvel 1\.1$' | head -n1)
  [ -n "$wid" ] || fail "no window"
  xdotool windowfocus --sync "$wid"
}
key() { xdotool key --clearmodifiers --delay 60 "$@"; sleep 0.2; }
clipboard() { xclip -o -selection clipboard 2>/dev/null || true; }
# Tabs through the controls of the chosen tab until one shows text matching $1.
focus_field_showing() {
  for _ in $(seq 12); do
    printf '' | xclip -selection clipboard
    key ctrl+a ctrl+c
    [[ "$(clipboard)" =~ $1 ]] && return 0
    key Tab
  done
  return 1
}
close_from_frame() {
  /usr/bin/python3 "$here/wm_close.py" "$wid"
  local rc=0
  wait_for 10 bash -c "! kill -0 $qpid 2>/dev/null" || fail "the window did not close"
  wait "$qpid" || rc=$?
  [ $rc -eq 0 ] || fail "exit code $rc after a close from the frame"
}

step="first start: the weight appears"
start_quorvel
wait_for 10 peso_is 12.5 || fail "hand-off file: $(cat "$handoff" 2>/dev/null)"
focus_field_showing '^12,500$' || fail "the window shows no weight of 12,500"

step="Ctrl+K opens the configuration tab"
key ctrl+k ctrl+Tab
focus_field_showing '^10$' || fail "the divisor field is not reachable"

step="a changed divisor applies at the next tick"
xdotool type --delay 60 100
key Tab
wait_for 5 peso_is 1.25 || fail "hand-off file: $(cat "$handoff")"

step="Save writes the configuration and stops the capture"
key alt+g
wait_for 5 grep -q 'Divisor=100' "$ini" || fail "quorvel.ini: $(cat -v "$ini")"
grep -q $'^\\[Configura\xe7\xe3o\\]\r$' "$ini" || fail "section not in Windows-1252: $(cat -v "$ini")"
grep -q $'^Balan\xe7a=Precision\r$' "$ini" || fail "brand not saved: $(cat -v "$ini")"
grep -q $'^COM1=' "$ini" || fail "the port map was lost"
sleep 0.6
: >"$handoff"
sleep 1.5
[ ! -s "$handoff" ] || fail "the capture went on after Save: $(cat "$handoff")"

step="close from the window frame"
close_from_frame

step="restart reads the saved settings"
start_quorvel
wait_for 10 peso_is 1.25 || fail "hand-off file after restart: $(cat "$handoff")"
close_from_frame
echo "e2e: passed"
