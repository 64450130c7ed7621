#!/usr/bin/env bash
# Without a display the program cannot show its window: it says so in one line
# on stderr and fails, whether no display is set or the one set is not there.
#   no_display_test.sh QUORVEL
set -uo pipefail
quorvel=$1
status=0
check() {
  local what=$1 rc err
  shift
  err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" timeout 20 "$quorvel" 2>&1 >/dev/null)
  rc=$?
  if [ $rc -eq 0 ] || [ $rc -ge 124 ] || [ "$(printf '%s\n' "$err" | wc -l)" -ne 1 ] ||
     [[ "$err" != quorvel:* ]]; then
    echo "no display ($what): exit $rc, stderr: $err"
    status=1
  else
    echo "no display ($what): exit $rc: $err"
  fi
}
check "none set"
check "server missing" DISPLAY=:4242 XDG_RUNTIME_DIR="$(mktemp -d)"
exit $status
