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

# Google Benchmark for the Windows build: Debian has no mingw package of it, so
# its Debian source package (with Debian's patches) is fetched with apt-get from
# the source index and unpacked once, beside GoogleTest's sources in /usr/src.
benchmark_version=1.7.1
benchmark_src=/usr/local/src/benchmark-$benchmark_version
if [ ! -f "$benchmark_src/CMakeLists.txt" ]; then
  echo "setup: fetching the Debian source of benchmark $benchmark_version"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/src"
  echo "deb-src http://deb.debian.org/debian bookworm main" >"$work/sources.list"
  apt_src=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Sandbox::User=root)
  $sudo apt-get "${apt_src[@]}" -qq update
  (cd "$work/src" && $sudo apt-get "${apt_src[@]}" -qq source --download-only "benchmark=$benchmark_version-1")
  # apt-get checked the files against the signed index; no second check.
  (cd "$work/src" && $sudo dpkg-source --no-check -q -x "benchmark_$benchmark_version-1.dsc" tree >/dev/null)
  $sudo mkdir -p "$(dirname "$benchmark_src")"
  # Another set-up may have finished first: keep whichever tree landed.
  $sudo mv -T "$work/src/tree" "$benchmark_src" 2>/dev/null || true
fi
