#!/usr/bin/env bash
# `cmake --install` into a DESTDIR: both programs, the manual page (in step with --help), the
# shell completion, the desktop entry, the AppStream description and every catalogue the build
# made, each valid; the installed command line runs. Usage: install_test.sh BUILD_DIR [gui]
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
# Important: read whole, then searched; `grep -q` in the pipe would end the writer early, which
# pipefail takes for a failure.
page=$(man -l "$root/share/man/man1/ouzel-convert.1" 2>/dev/null)
grep -q -- '--check' <<<"$page" || fail "the manual page does not render"
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
# The installed program finds them from where it is.
usage=$(LC_ALL=zh_CN.UTF-8 LANGUAGE= "$root/bin/ouzel-convert" --help)  # whole: a pipe to head may break it
[[ $usage == 用法：* ]] || fail "the installed command line's help is not in Chinese: ${usage%%$'\n'*}"

# Every option --help names has its entry in the manual page, and the page names no other.
help_options=$("$root/bin/ouzel-convert" --help | grep -oE '^  (-[a-zA-Z], |    )--[a-z][a-z-]*' |
  grep -oE -- '--[a-z-]+' | sort -u)
page_options=$(grep -A1 '^\.TP' "$root/share/man/man1/ouzel-convert.1" | grep -oE '\\-\\-[a-z\\-]+' |
  sed 's/\\//g' | sort -u)
[ -n "$help_options" ] || fail "no options found in --help"
[ "$help_options" = "$page_options" ] ||
  fail "the manual page and --help name other options: $(diff <(echo "$help_options") <(echo "$page_options") | grep '^[<>]' | tr '\n' ' ')"

# The completion, as bash runs it for the installed program: options, encodings whatever the
# letter case and punctuation, presets inside a list, and the modes.
completion=$root/share/bash-completion/completions/ouzel-convert
[ -f "$completion" ] || fail "the bash completion is missing"
complete_line() {
  PATH="$root/bin:$PATH" bash -c 'source "$1"; shift; COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ouzel_convert; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" ouzel-convert "$@"
}
expect_completion() {
  local want=$1
  shift
  local offered
  offered=$(complete_line "$@")
  grep -qxF -- "$want" <<<"$offered" || fail "completing '$*' does not offer $want: ${offered//$'\n'/ }"
}
expect_completion --detect --det
expect_completion --list-presets --list-p
expect_completion SHIFT_JIS --from shift
expect_completion UTF-8 -t utf8
expect_completion 'UTF-8\ with\ BOM' --to 'utf-8 w'
expect_completion 'Chinese\,Central\ European' --candidates Chinese,central
expect_completion crlf --eol cr
expect_completion remove --bom r
[ -z "$(complete_line --from no-such-encoding)" ] || fail "an unknown name completes"

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
  metainfo=$root/share/metainfo/invalid.varnel.ouzeltool.metainfo.xml
  [ -f "$metainfo" ] || fail "the AppStream description is missing"
  appstreamcli validate --no-net "$metainfo" >/dev/null || fail "the AppStream description is not valid"
  grep -q '<launchable type="desktop-id">ouzeltool.desktop</launchable>' "$metainfo" ||
    fail "the AppStream description does not launch the desktop entry"
fi
echo "install into DESTDIR: ok"
