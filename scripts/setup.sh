#!/usr/bin/env bash
# Installs every Debian package the build, the tool, the tests and the benchmarks need.
# Safe to run again; silent when everything is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libimgui-dev libsdl2-dev libgl-dev libx11-dev libyaml-cpp-dev
  fonts-dejavu-core fonts-wqy-microhei fonts-font-awesome
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool imagemagick libgl1-mesa-dri x11-utils
  python3 gettext
  libicu-dev libuchardet-dev libeditorconfig-dev libxxhash-dev
  clang-14 clang-format-14 libclang-rt-14-dev libc6-dbg
  desktop-file-utils appstream bash groff-base man-db file
  pre-commit git
  btrfs-progs xfsprogs
)
# libc6-dbg names the dynamic loader's functions, which tests/support/tsan.supp suppresses by
# name: without it ThreadSanitizer reports the loader's unnamed frames (a fresh machine has none).
# The text the benchmarks and some tests read comes from packages that are fetched, never
# installed: scripts/text_cache.py (run by scripts/test.sh and by what reads the text).

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
