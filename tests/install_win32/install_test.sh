#!/usr/bin/env bash
# Installs Quorvel with its installer under Wine as an administrator would,
# silently, and uninstalls it again: the programs, the Start-menu entry, the
# logon entry and the Add/Remove Programs entry come and go; the user's
# settings and a hand-off file stay. Also opens the portable zip.
#
#   install_test.sh WINE_RUN SETUP.exe PORTABLE.zip [with-window]
#
# with-window: the build has quorvel.exe, so the installer has the entries
# that start it, and a running quorvel.exe must stop the uninstaller.
set -euo pipefail
wine_run=$1 setup=$(readlink -f "$2") portable=$(readlink -f "$3") window=${4:-}
. "$(dirname "$0")/../../scripts/sim-env.sh"
fail() { echo "install: $*" >&2; exit 1; }
step="start"

eval "$("$wine_run" --env)"
export WINEDEBUG=-all
reg() { wine reg "$@" 2>/dev/null; }
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel'
dir="$WINEPREFIX/drive_c/Program Files/Quorvel"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvel"
appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Quorvel"
settings="$appdata/quorvel.ini"

# The run's prefix is shared: the user's settings found there are the ones
# checked and left in place; a failed run takes out what it installed.
mine=false
if [ ! -f "$settings" ]; then
  mkdir -p "$appdata"
  printf '[Configura\xe7\xe3o]\r\nPorta=3\r\n' >"$settings"
  mine=true
fi
cp "$settings" "$work/settings.before"
cleanup() {
  rm -rf "$dir" "$menu"
  $mine && rm -f "$settings" || true
  if [ "$1" -ne 0 ]; then
    echo "install: failed at: $step" >&2
    reg delete "$run_key" /v Quorvel /f >/dev/null || true
    reg delete "$uninstall_key" /f >/dev/null || true
  fi
}
trap 'rc=$?; cleanup $rc; stop_tracked; exit $rc' EXIT
rm -rf "$dir" "$menu"

run_value() { reg query "$run_key" /v Quorvel | tr -d '\r' | sed -n 's/^ *Quorvel *REG_SZ *//p'; }

step="portable zip"
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$portable")
top=$(basename "$portable" .zip)
zipped=(quorvel-ini.exe LEIAME.txt)
[ -n "$window" ] && zipped+=(quorvel.exe)
for f in "${zipped[@]}"; do [ -f "$work/zip/$top/$f" ] || fail "the zip lacks $top/$f"; done
[ "$(ls "$work/zip/$top" | wc -l)" -eq "${#zipped[@]}" ] || fail "the zip holds more: $(ls "$work/zip/$top")"
readme="$work/zip/$top/LEIAME.txt"
! grep -qv $'\r$' "$readme" || fail "LEIAME.txt has a line without CR LF"
iconv -f WINDOWS-1252 -t UTF-8 "$readme" | grep -q 'Instalação' || fail "LEIAME.txt is not Windows-1252"

step="silent install without the start at logon"
"$wine_run" "$setup" /S /AUTOSTART=0 || fail "the installer ended with $?"
programs=(quorvel-ini.exe LEIAME.txt uninstall.exe)
[ -n "$window" ] && programs+=(quorvel.exe)
for f in "${programs[@]}"; do
  [ -f "$dir/$f" ] || fail "no $f in Program Files\\Quorvel: $(ls "$dir" 2>&1)"
done
for f in "${zipped[@]}"; do
  cmp -s "$dir/$f" "$work/zip/$top/$f" || fail "the installed $f is not the zip's"
done
entry=$(reg query "$uninstall_key" | tr -d '\r')
for want in 'DisplayName +REG_SZ +Quorvel$' 'DisplayVersion +REG_SZ +[0-9]+\.[0-9]+\.[0-9]+$' \
            'UninstallString +REG_SZ +"C:\\Program Files\\Quorvel\\uninstall\.exe"$'; do
  grep -Eq "$want" <<<"$entry" || fail "the Add/Remove Programs entry lacks /$want/: $entry"
done
if [ -n "$window" ]; then
  [ -f "$menu/Quorvel.lnk" ] || fail "no Start-menu entry: $(ls "$menu" 2>&1)"
  [ -z "$(run_value)" ] || fail "/AUTOSTART=0 made the logon entry '$(run_value)'"

  step="install again, by default"
  "$wine_run" "$setup" /S || fail "the installer ended with $?"
  [ "$(run_value)" = '"C:\Program Files\Quorvel\quorvel.exe"' ] ||
    fail "the logon entry is '$(run_value)'"
fi

# The hand-off file, written by the installed tool into the program's own
# folder, where an old workstation may well keep it.
step="the installed quorvel-ini"
handoff='C:\Program Files\Quorvel\quorvel.txt'
"$wine_run" "$dir/quorvel-ini.exe" set Pesagem.BALANCA01 Peso 12.5 "$handoff"
[ "$("$wine_run" "$dir/quorvel-ini.exe" get pesagem.balanca01 PESO 0 "$handoff" | tr -d '\r')" = 12.5 ] ||
  fail "get did not read back what set wrote: $(od -c "$dir/quorvel.txt" | head)"
cp "$dir/quorvel.txt" "$work/handoff.before"

# The uninstaller copies itself away and returns at once unless _?= names its
# folder; the argument must reach it unquoted, so a batch file starts it.
uninstall() {
  printf '@"C:\\Program Files\\Quorvel\\uninstall.exe" /S _?=C:\\Program Files\\Quorvel\r\n@exit /b %%errorlevel%%\r\n' \
    >"$work/uninstall.cmd"
  "$wine_run" cmd.exe /c "Z:$(tr / '\\' <<<"$work/uninstall.cmd")"
}

if [ -n "$window" ]; then
  step="uninstall while Quorvel runs"
  "$wine_run" "$dir/quorvel.exe" >/dev/null 2>&1 &
  qpid=$!
  track $qpid
  wait_until 20 xdotool search --name '^Quorvel' >/dev/null 2>&1 || fail "the installed quorvel.exe showed no window"
  rc=0
  uninstall || rc=$?
  [ $rc -eq 2 ] || fail "the uninstaller ended with $rc while quorvel.exe ran"
  for f in "${programs[@]}"; do [ -f "$dir/$f" ] || fail "$f went while quorvel.exe ran"; done
  kill $qpid && wait $qpid 2>/dev/null || true
  wait_until 10 bash -c "! pgrep -f 'Program Files.Quorvel.quorvel\.exe' >/dev/null" || fail "quorvel.exe did not end"
fi

step="silent uninstall"
uninstall || fail "the uninstaller ended with $?"
# uninstall.exe cannot remove itself while it runs in place.
left=$(cd "$dir" && ls | grep -v '^uninstall\.exe$' | paste -sd' ')
[ "$left" = quorvel.txt ] || fail "left in Program Files\\Quorvel: '$left' (the hand-off file alone expected)"
cmp -s "$dir/quorvel.txt" "$work/handoff.before" || fail "the hand-off file changed"
cmp -s "$settings" "$work/settings.before" || fail "the user's settings changed or went"
[ ! -e "$menu" ] || fail "the Start-menu folder is still there: $(ls "$menu")"
[ -z "$(run_value)" ] || fail "the logon entry is still there"
! reg query "$uninstall_key" >/dev/null || fail "the Add/Remove Programs entry is still there"

echo "install: $(basename "$setup") installs, runs and uninstalls; $(basename "$portable") unpacks"
