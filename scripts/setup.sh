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
  manpages-zh python3
  libicu-dev libuchardet-dev libeditorconfig-dev libxxhash-dev
  manpages-ja manpages-ru manpages-uk manpages-de manpages-fr manpages-es manpages-pl
  manpages-cs manpages-hu manpages-el manpages-tr manpages-vi iso-codes
  clang-14 clang-format-14 libclang-rt-14-dev
  desktop-file-utils appstream bash groff-base man-db
  pre-commit git
  btrfs-progs xfsprogs
  gettext
)
# What scripts/detect_corpus.py reads (translated messages and debconf questions) besides the
# manual pages above: the detection benchmark and its gate are only comparable on the same text.
packages+=(
  adduser appstream apt at-spi2-common bash binutils-common coreutils diffutils dpkg findutils
  fp-utils-3.2.2 fp-compiler-3.2.2 gettext gettext-base git gnucobol3 gnupg-l10n grep
  gsettings-desktop-schemas krb5-locales libapt-pkg6.0 libavahi-common-data libc-l10n
  libdpkg-perl libelf1 libgdk-pixbuf2.0-common libglib2.0-data libgnutls30 libgstreamer1.0-0
  libgtk2.0-common libidn2-0 libpam-runtime libpq5 login make net-tools packagekit polkitd
  postgresql-15 postgresql-client-15 procps psmisc python-apt-common sed shared-mime-info
  software-properties-common systemd tar wget xdg-user-dirs xkb-data xz-utils
  base-passwd ca-certificates debconf fontconfig-config iproute2 libc6 libdebuginfod-common
  libpam-modules libpam0g locales postgresql-common ssl-cert tzdata ucf
)

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
