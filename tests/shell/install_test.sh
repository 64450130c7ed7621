#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a staging root and runs the
# installed programs from there.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
. "$(dirname "$0")/../../scripts/sim-env.sh"
fail() { echo "install: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/pkg/quorvel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
stage=$work/root
dpkg-deb -x "$deb" "$stage"
for f in usr/bin/quorvel usr/bin/quorvel-sim usr/bin/quorvel-ini \
         usr/share/applications/quorvel.desktop usr/share/man/man1/quorvel-ini.1 \
         usr/share/man/man1/quorvel-sim.1 usr/share/icons/hicolor/48x48/apps/quorvel.png \
         usr/share/icons/hicolor/256x256/apps/quorvel.png; do
  [ -e "$stage/$f" ] || fail "the package lacks /$f"
done

# The installed quorvel-ini round-trips the accented names as Windows-1252 bytes.
ini=$work/t.ini
"$stage/usr/bin/quorvel-ini" set $'Configura\xe7\xe3o' $'Balan\xe7a' TOL "$ini"
[ "$(cat "$ini")" = $'[Configura\xe7\xe3o]\r\nBalan\xe7a=TOL\r' ] || fail "file bytes: $(od -c "$ini")"
[ "$("$stage/usr/bin/quorvel-ini" get $'CONFIGURA\xc7\xc3O' $'balan\xe7a' x "$ini")" = TOL ] ||
  fail "get did not find the entry"

# The installed quorvel, on the offscreen platform, captures from the simulator.
export QT_QPA_PLATFORM=offscreen
start_sim "$stage/usr/bin/quorvel-sim" --brand DIG --weight 42.5 --interval 100
mkdir -p "$work/handoff"
write_config DIG "$work/handoff"
"$stage/usr/bin/quorvel" >"$work/quorvel.log" 2>&1 &
track $!
wait_until 10 grep -q $'^Peso=42.5\r$' "$work/handoff/quorvel.txt" ||
  { cat "$work/quorvel.log"; fail "the installed quorvel wrote no weight"; }
echo "install: $(basename "$deb") installs and runs"
