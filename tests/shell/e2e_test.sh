#!/usr/bin/env bash
# Drives the real program as a person would, under a virtual X server: a
# simulated scale on a pseudo-terminal, real key presses, a close from the frame.
#
#   e2e_test.sh QUORVEL QUORVEL_SIM SCREENSHOT_DIR
set -euo pipefail
quorvel=$1 sim=$2 shots=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/sim-env.sh"
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
  stop_tracked
  exit $rc
}
trap finish EXIT

fail() { echo "e2e: $*" >&2; exit 1; }

unset QT_QPA_PLATFORM
start_xvfb
step="scale simulator"
start_sim "$sim" --brand Precision --weight 12.5 --divisor 10 --interval 100
mkdir -p "$work/handoff"
write_config Precision "$work/handoff"
ini="$XDG_CONFIG_HOME/quorvel/quorvel.ini"
handoff="$work/handoff/quorvel.txt"
peso_is() { grep -q "^Peso=$1"$'\r'"\?$" "$handoff" 2>/dev/null; }

# Sets wid once the window shows; also ends the wait when the program has ended.
find_window() {
  kill -0 "$qpid" 2>/dev/null || return 0
  wid=$(xdotool search --onlyvisible --name '^Quorvel 1\.1$' 2>/dev/null | head -n1) || true
  [ -n "$wid" ]
}
# The program takes no arguments: options that Qt would act on, such as another
# platform plugin or a mirrored layout, are given and must change nothing.
start_quorvel() {
  "$quorvel" -platform bogus -reverse >"$work/quorvel.log" 2>&1 &
  qpid=$!
  track $qpid
  wid=""
  wait_until 15 find_window || fail "no window"
  [ -n "$wid" ] || fail "the program ended at start: $(cat "$work/quorvel.log")"
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
# Both ways out end the program with exit code 0.
expect_exit_zero() {
  local rc=0
  wait_until 10 bash -c "! kill -0 $qpid 2>/dev/null" || fail "the window did not close"
  wait "$qpid" || rc=$?
  [ $rc -eq 0 ] || fail "exit code $rc after $1"
}
close_from_frame() {
  /usr/bin/python3 "$here/wm_close.py" "$wid"
  expect_exit_zero "a close from the frame"
}
close_with_button() {
  key alt+f
  expect_exit_zero "the Close button"
}

step="first start: the weight appears"
start_quorvel
wait_until 10 peso_is 12.5 || fail "hand-off file: $(cat "$handoff" 2>/dev/null)"
focus_field_showing '^12,500$' || fail "the window shows no weight of 12,500"

step="Ctrl+K opens the configuration tab"
key ctrl+k ctrl+Tab
focus_field_showing '^10$' || fail "the divisor field is not reachable"

step="a changed divisor applies at the next tick"
xdotool type --delay 60 100
key Tab
wait_until 5 peso_is 1.25 || fail "hand-off file: $(cat "$handoff")"

step="Save writes the configuration and stops the capture"
key alt+g
wait_until 5 grep -q 'Divisor=100' "$ini" || fail "quorvel.ini: $(cat -v "$ini")"
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
wait_until 10 peso_is 1.25 || fail "hand-off file after restart: $(cat "$handoff")"

step="the Close button (Alt+F) ends the program"
close_with_button
echo "e2e: passed"
