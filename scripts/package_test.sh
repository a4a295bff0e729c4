#!/usr/bin/env bash
# Builds the Debian package from a finished build directory, checks what it holds and what it
# depends on, installs it, runs the installed command line, and removes it again.
# Usage: scripts/package_test.sh [BUILD_DIR]   (root or sudo: it installs the package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# Important: a package already installed (another build, an earlier run) would be replaced and
# then removed; refuse instead of touching it.
if dpkg-query -W -f='${Status}' ouzeltool 2>/dev/null | grep -q "install ok installed"; then
  fail "the package ouzeltool is already installed; remove it first (dpkg -r ouzeltool)"
fi

rm -f "$build"/ouzeltool_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ouzeltool_*.deb)
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
catalogues=$(cd "$build" && ls locale/*/LC_MESSAGES/ouzeltool.mo | sed 's|^|./usr/share/|')
for f in ./usr/bin/ouzel-convert ./usr/bin/ouzeltool ./usr/share/man/man1/ouzel-convert.1 \
  ./usr/share/applications/ouzeltool.desktop ./usr/share/icons/hicolor/scalable/apps/ouzeltool.svg \
  ./usr/share/bash-completion/completions/ouzel-convert \
  ./usr/share/metainfo/invalid.varnel.ouzeltool.metainfo.xml \
  $catalogues; do
  grep -qx -- "$f" <<<"$listing" || fail "$deb lacks $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libstdc++6 libyaml-cpp0.7 libicu72 libuchardet0 libeditorconfig0 libsdl2-2.0-0 fonts-wqy-microhei; do
  grep -q "\b$p\b" <<<"$depends" || fail "Depends lacks $p: $depends"
done

trap '$sudo dpkg -r ouzeltool >/dev/null 2>&1 || true' EXIT
$sudo dpkg -i "$deb" >/dev/null
version=$(/usr/bin/ouzel-convert --version)
[ "$version" = "ouzel-convert $(dpkg-deb -f "$deb" Version)" ] || fail "--version says '$version'"
man -w ouzel-convert >/dev/null 2>&1 || fail "man ouzel-convert finds no page"
usage=$(LC_ALL=zh_CN.UTF-8 LANGUAGE= /usr/bin/ouzel-convert --help)  # whole: a pipe to head may break it
[[ $usage == 用法：* ]] || fail "the installed command line's help is not in Chinese: ${usage%%$'\n'*}"
$sudo dpkg -r ouzeltool >/dev/null
[ ! -e /usr/bin/ouzel-convert ] || fail "dpkg -r left /usr/bin/ouzel-convert"
trap - EXIT
echo "Debian package $(basename "$deb"): built, inspected, installed, ran, removed"
