#!/usr/bin/env bash
# Runs Windows programs of the cross build under Wine, in a prefix of the build's
# own, with one persistent wineserver and one private X server for a whole test
# run (a Wine process then starts in about 0.1 s instead of 3 s, and windows are
# real X windows).
#
#   wine-run.sh PROGRAM.exe [ARG...]     run a program; its exit code is the program's
#   wine-run.sh --start                  make the prefix and start the servers
#   wine-run.sh --stop                   end the servers of this run
#   wine-run.sh --map-com COMn PATH      make COMn the Unix device PATH (a pseudo-terminal)
#   wine-run.sh --env                    print the variables to export for wine by hand
#
# QUORVEL_WINE_ROOT names the folder of the prefix and the run's state; the build
# sets it in its generated launcher (build/windows/wine-run). The prefix is made
# once, under a lock, so that parallel tests may all start here; the servers
# started by the first program of a run stay up until --stop or, when nobody
# stops them, until two minutes after the last Wine process ended.
set -euo pipefail

root=${QUORVEL_WINE_ROOT:?QUORVEL_WINE_ROOT must name the folder of the Wine prefix}
mkdir -p "$root"
root=$(cd "$root" && pwd)

export WINEPREFIX="$root/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko install prompts, no menu entries or file associations on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
persist=120

display_file="$root/display"
xvfb_pid_file="$root/xvfb.pid"

use_display() {
  if [ -f "$display_file" ]; then
    DISPLAY=$(cat "$display_file")
    export DISPLAY
  else
    unset DISPLAY
  fi
  unset WAYLAND_DISPLAY
}

ensure_server() {
  # wineserver refuses to start (status 2) while a server of this prefix runs.
  local rc=0
  wineserver -p"$persist" </dev/null >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 2 ] && return 0
  if [ "$rc" -ne 0 ]; then
    echo "wine-run: wineserver failed to start ($rc)" >&2
    return 1
  fi
  # A new server: the first Wine process of a session starts the services and,
  # once anything needs a window, the desktop process. They live as long as the
  # server and keep the standard output they were given, so a test runner would
  # wait for them to close its pipe: start them here, on /dev/null.
  use_display
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

start_xvfb() {
  command -v Xvfb >/dev/null || return 0
  if [ -f "$xvfb_pid_file" ] && kill -0 "$(cat "$xvfb_pid_file")" 2>/dev/null; then return 0; fi
  local fifo="$root/displayfd"
  rm -f "$fifo"
  mkfifo "$fifo"
  # A display number of its own: -displayfd picks a free one and reports it.
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  echo $! >"$xvfb_pid_file"
  local n
  read -r -t 10 n <"$fifo" || n=""
  rm -f "$fifo"
  if [ -z "$n" ]; then
    echo "wine-run: Xvfb did not start; running without a display" >&2
    rm -f "$display_file"
    return 0
  fi
  echo ":$n" >"$display_file"
}

# Settings of the prefix, applied once to each prefix (a new one, or an older
# one made before a setting was added here).
settings() {
  local mark="$WINEPREFIX/.quorvel-settings-1"
  [ -f "$mark" ] && return 0
  # A crashing program prints its backtrace and ends at once: no crash dialog
  # waiting on the X server for a click that never comes.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1
  touch "$mark"
}

start() {
  exec 9>"$root/lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.quorvel-ready" ]; then
    rm -rf "$WINEPREFIX"
    DISPLAY='' wineboot --init >/dev/null 2>&1 || true
    # The set-up leaves a short-lived server behind; ours must be persistent.
    wineserver -w >/dev/null 2>&1 || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-run: could not create the Wine prefix $WINEPREFIX" >&2
      exit 1
    fi
    touch "$WINEPREFIX/.quorvel-ready"
  fi
  start_xvfb
  ensure_server
  settings
  flock -u 9
  exec 9>&-
}

stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -f "$xvfb_pid_file" ]; then
    kill "$(cat "$xvfb_pid_file")" 2>/dev/null || true
    rm -f "$xvfb_pid_file" "$display_file"
  fi
}

map_com() {
  local name=${1:?COMn} path=${2:?Unix device path}
  case "$name" in
    COM[1-9] | COM[1-9][0-9] | COM[1-2][0-9][0-9]) ;;
    *) echo "wine-run: $name is no COM port name" >&2; exit 2 ;;
  esac
  start
  use_display
  # The registry value holds across restarts of Wine, which rebuilds the device
  # links from it; the link itself takes effect at once for a running Wine.
  wine reg add 'HKLM\Software\Wine\Ports' /v "$name" /t REG_SZ /d "$path" /f >/dev/null
  local lower
  lower=$(echo "$name" | tr '[:upper:]' '[:lower:]')
  ln -sfn "$path" "$WINEPREFIX/dosdevices/$lower"
}

case "${1:-}" in
  --start) start ;;
  --stop) stop ;;
  --map-com) shift; map_com "$@" ;;
  --env)
    start
    use_display
    printf 'export WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q DISPLAY=%q\n' \
      "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "${DISPLAY:-}"
    ;;
  "") echo "usage: wine-run.sh PROGRAM.exe [ARG...] | --start | --stop | --map-com COMn PATH" >&2; exit 2 ;;
  *)
    start
    use_display
    exec wine "$@"
    ;;
esac
