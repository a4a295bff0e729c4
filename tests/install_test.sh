#!/usr/bin/env bash
# `cmake --install` into a DESTDIR: both programs, the manual page, the desktop entry and every
# catalogue the build made, each valid; the installed command line runs.
# Usage: install_test.sh BUILD_DIR [gui]
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

build=$1
gui=${2:-}
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" --prefix /usr/local >/dev/null
root=$dest/usr/local
[ -x "$root/bin/ouzel-convert" ] || fail "bin/ouzel-convert missing"
[ -f "$root/share/man/man1/ouzel-convert.1" ] || fail "the manual page is missing"
out=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/ouzel-convert.1" 2>&1)
[ -z "$out" ] || fail "the manual page has warnings: $out"
man -l "$root/share/man/man1/ouzel-convert.1" 2>/dev/null | grep -q -- '--check' ||
  fail "the manual page does not render"
version=$("$root/bin/ouzel-convert" --version)
[[ $version =~ ^ouzel-convert\ [0-9]+\.[0-9]+$ ]] || fail "--version says '$version'"
# The page is written by hand: its header must follow the project's version.
grep -q "^\.TH OUZEL-CONVERT 1 .*\"$version\"" "$root/share/man/man1/ouzel-convert.1" ||
  fail "the manual page's header does not name $version"
for mo in "$build"/locale/*/LC_MESSAGES/ouzeltool.mo; do
  lang=${mo#"$build"/locale/}
  lang=${lang%%/*}
  cmp -s "$mo" "$root/share/locale/$lang/LC_MESSAGES/ouzeltool.mo" ||
    fail "the $lang catalogue is not installed"
done

if [ "$gui" = gui ]; then
  [ -x "$root/bin/ouzeltool" ] || fail "bin/ouzeltool missing"
  entry=$root/share/applications/ouzeltool.desktop
  [ -f "$entry" ] || fail "the desktop entry is missing"
  desktop-file-validate "$entry" || fail "the desktop entry is not valid"
  grep -qx 'Name=varnel Encoding Convert Tool' "$entry" || fail "the entry's Name"
  grep -qx 'Exec=ouzeltool' "$entry" || fail "the entry's Exec"
  grep -q '^Categories=.*Utility;' "$entry" || fail "the entry's Categories"
  grep -qx 'Icon=ouzeltool' "$entry" || fail "the entry's Icon"
  icon=$root/share/icons/hicolor/scalable/apps/ouzeltool.svg
  python3 -c 'import sys, xml.etree.ElementTree as E; sys.exit(not E.parse(sys.argv[1]).getroot().tag.endswith("svg"))' \
    "$icon" || fail "the icon is not an SVG image"
fi
echo "install into DESTDIR: ok"
