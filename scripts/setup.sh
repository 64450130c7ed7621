#!/usr/bin/env bash
# Installs what Quorvel needs to build, test and run on Debian 12. Only missing
# packages are installed, so a second run costs a second.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wine locales xvfb xauth xdotool x11-apps xclip python3-xlib imagemagick
  # The Windows build: mingw-w64 (64-bit, posix threads), GoogleTest's sources
  # for that target, Wine to run the programs and tests, NSIS for the installer.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest wine wine64 nsis
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Numbers must read and write the same in every locale; the tests check under a
# decimal-comma locale too.
if ! locale -a 2>/dev/null | grep -qi '^pt_BR\.utf-\?8$'; then
  $sudo sed -i 's/^# *\(pt_BR.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  $sudo locale-gen >/dev/null
fi
