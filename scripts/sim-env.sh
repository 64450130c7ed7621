# Sourced by the scripts that run Quorvel against the simulator (the demo, the
# end-to-end and package tests, the screenshots, the footprint): a temporary
# folder of its own, a virtual X server, the simulator, and a configuration.
#
#   . scripts/sim-env.sh          sets work (the folder) and cleans up on exit
#   start_xvfb                    exports DISPLAY of a new virtual X server
#   start_sim SIM ARGS...         simulator linked as $work/scale, waits for it
#   write_config BRAND FOLDER     quorvel.ini in Windows-1252, COM1 = $work/scale
#   start_screenshots FILE [SEC]  the whole display saved to FILE (PNG) every SEC seconds
#   track PID                     stopped on exit
#   start_wine                    a Wine prefix of its own in $work/wine, its server running
#   map_com COMn PATH             COMn in that prefix is the device behind PATH
#   write_config_windows BRAND FOLDER   quorvel.ini in the prefix's %APPDATA%\Quorvel
#   windows_path PATH             the Windows name of a Linux path (Z:\...)
#   show_window PID SECONDS       the demo's picture of its virtual display, once the window shows
#   follow_handoff FILE PID       each new content of the hand-off file, until PID ends

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel.XXXXXX")
tracked=()
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/quorvel" && mkdir -m 700 "$XDG_RUNTIME_DIR"

track() { tracked+=("$1"); }

# Newest first, each gone before the next, so that the program ends before its
# X server and its simulator do.
stop_tracked() {
  local i
  for ((i = ${#tracked[@]} - 1; i >= 0; i--)); do
    kill "${tracked[i]}" 2>/dev/null || true
    wait "${tracked[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_tracked EXIT

# wait_until SECONDS COMMAND...: true once the command succeeds within the time.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

start_xvfb() {
  local n=$((100 + RANDOM % 800))
  while [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  # A session of its own: Ctrl+C must not end the server before the program on it.
  setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  track $!
  export DISPLAY=":$n"
  unset WAYLAND_DISPLAY
  wait_until 10 test -S "/tmp/.X11-unix/X$n" || { echo "Xvfb did not start" >&2; return 1; }
}

# Each picture is written beside FILE and renamed over it, so that a viewer
# never reads half a file.
start_screenshots() {
  local file=$1 every=${2:-3}
  (
    while :; do
      import -display "$DISPLAY" -window root "png:$file.part" 2>/dev/null && mv -f "$file.part" "$file"
      sleep "$every"
    done
  ) &
  track $!
}

start_sim() {
  local sim=$1
  shift
  "$sim" "$@" --link "$work/scale" >"$work/sim.log" 2>&1 &
  track $!
  wait_until 10 test -e "$work/scale" || { cat "$work/sim.log" >&2; return 1; }
}

write_config() {
  printf '[Configura\xe7\xe3o]\r\nPasta=%s\r\nBalan\xe7a=%s\r\nPorta=1\r\nVelocidade=9600\r\nDivisor=10\r\n[Portas]\r\nCOM1=%s\r\n' \
    "$2" "$1" "$work/scale" >"$XDG_CONFIG_HOME/quorvel/quorvel.ini"
}

# Wine for the Windows build: a prefix made here (about half a minute), and one
# persistent server for everything started in it, stopped with the rest.
start_wine() {
  export WINEPREFIX="$work/wine" WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  DISPLAY= wineboot --init >"$work/wine.log" 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { cat "$work/wine.log" >&2; echo "no Wine prefix" >&2; return 1; }
  wineserver -f -p >>"$work/wine.log" 2>&1 &
  track $!
}

# Wine makes its device links from these values when it starts; the link made
# here serves the server already running.
map_com() {
  local dev
  dev=$(readlink -f "$2")
  wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$dev" /f >/dev/null 2>&1
  ln -sfn "$dev" "$WINEPREFIX/dosdevices/$(echo "$1" | tr '[:upper:]' '[:lower:]')"
}

windows_path() { printf 'Z:%s' "$(echo "$1" | tr / '\\')"; }

write_config_windows() {
  local dir
  dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Quorvel"
  mkdir -p "$dir"
  printf '[Configura\xe7\xe3o]\r\nPasta=%s\r\nBalan\xe7a=%s\r\nPorta=1\r\nVelocidade=9600\r\nDivisor=10\r\n' \
    "$(windows_path "$2")" "$1" >"$dir/quorvel.ini"
}

# Nobody can see a virtual display: a picture of it, renewed every 3 s, can be.
# It starts once Quorvel's window shows, PID ends or SECONDS have passed.
show_window() {
  local pid=$1
  window_shown() { ! kill -0 "$pid" 2>/dev/null || xdotool search --onlyvisible --name '^Quorvel' >/dev/null 2>&1; }
  wait_until "$2" window_shown || true
  start_screenshots "$work/screen.png" 3
  echo "demo: the window as it looks now, renewed every 3 s: $work/screen.png"
}

# The hand-off file's section on one line, with the time, each time it changes.
follow_handoff() {
  local file=$1 pid=$2 last="" now
  while kill -0 "$pid" 2>/dev/null; do
    if [ -f "$file" ]; then
      now=$(tr -d '\r' <"$file")
      if [ "$now" != "$last" ]; then
        printf '%s  %s\n' "$(date +%T)" "$(echo "$now" | paste -sd' ')"
        last=$now
      fi
    fi
    sleep 0.2
  done
}
