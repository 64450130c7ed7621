#!/usr/bin/env bash
# Builds the Windows packages on Debian: installs what is missing (mingw-w64,
# NSIS), cross-builds the programs with the windows preset and leaves the
# installer and the portable zip in build/windows/.
#   scripts/package-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target installer portable
version=$(sed -n 's/^project(Quorvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for f in "build/windows/quorvel-setup-$version.exe" "build/windows/quorvel-$version-win64.zip"; do
  [ -f "$f" ] || { echo "package-windows: $f was not made" >&2; exit 1; }
  echo "package-windows: $f ($(stat -c %s "$f") bytes)"
done
