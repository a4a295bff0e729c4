#!/usr/bin/env bash
# Runs the real program: in a virtual X server (window size and place, a screenshot that is
# not blank, idle CPU under 5 %, a resize survived, SIGTERM ends it with code 0 and the
# settings file untouched), and with no display (code 1 and one line on stderr). Every wait
# is bounded.
# Usage: window_test.sh BINARY xvfb|no-display [SOURCE_DIR]
# OUZEL_UPDATE_SCREENSHOT=1 copies the window's picture to SOURCE_DIR/docs/screenshot.png.
set -uo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

title="varnel Encoding Convert Tool v3.0"
self=$(realpath "$0")

# Inside the virtual X server: start, find the window, check it, screenshot, SIGTERM.
inner() {
  local bin=$1 src=$2
  "$bin" >out.txt 2>err.txt &
  pid=$!
  trap 'kill -KILL "$pid" 2>/dev/null' EXIT  # never left running after a failed check
  local wid
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n 1)
  [ -n "$wid" ] || fail "no window appeared; stderr: $(cat err.txt)"
  local WIDTH=0 HEIGHT=0 X=0 Y=0
  eval "$(xdotool getwindowgeometry --shell "$wid" | grep -E '^(WIDTH|HEIGHT|X|Y)=[0-9-]+$')"
  local wm_class
  wm_class=$(timeout 10 xprop -id "$wid" WM_CLASS 2>/dev/null)
  case $wm_class in *'"ouzeltool"'*) ;; *) fail "WM_CLASS is '$wm_class'" ;; esac
  sleep 1  # a few frames
  timeout 30 import -window root shot.png || fail "screenshot failed"
  # Left alone, the window waits for events: under 5 % of a core over 5 s.
  local ticks0 ticks1 hz idle_pct
  hz=$(getconf CLK_TCK)
  ticks0=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  sleep 5
  ticks1=$(awk '{print $14 + $15}' "/proc/$pid/stat")
  idle_pct=$(( (ticks1 - ticks0) * 100 / (5 * hz) ))
  [ "$idle_pct" -lt 5 ] || fail "idle window used ${idle_pct} % of a core"
  # A size change from outside is survived.
  timeout 10 xdotool windowsize --sync "$wid" 900 600 || fail "resize failed"
  sleep 0.5
  kill -0 "$pid" 2>/dev/null || fail "ended after a resize; stderr: $(cat err.txt)"
  kill -TERM "$pid"
  local rc=124
  for _ in $(seq 100); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      rc=$?
      break
    fi
    sleep 0.1
  done
  [ "$rc" != 124 ] || fail "still running 10 s after SIGTERM"
  [ "$rc" -eq 0 ] || fail "exit code $rc after SIGTERM; stderr: $(cat err.txt)"

  # 96 DPI (no Xft.dpi in a bare server): 800 x 500, centred in 1280 x 1024.
  [ "$WIDTH" -eq 800 ] && [ "$HEIGHT" -eq 500 ] || fail "window is ${WIDTH}x${HEIGHT}"
  [ "$X" -eq 240 ] && [ "$Y" -eq 262 ] || fail "window at ($X, $Y), expected (240, 262)"
  convert shot.png -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage window.png || fail "crop failed"
  local colours mean
  colours=$(convert shot.png -format '%k' info:)
  mean=$(convert window.png -colorspace gray -format '%[fx:int(mean*255)]' info:)
  [ "$colours" -gt 1 ] || fail "screenshot is one colour"
  [ "$mean" -gt 0 ] || fail "window area is black"
  if [ "${OUZEL_UPDATE_SCREENSHOT:-}" = 1 ] && [ -n "$src" ]; then
    mkdir -p "$src/docs" && cp window.png "$src/docs/screenshot.png"
  fi
  echo "window ${WIDTH}x${HEIGHT} at ($X, $Y), $colours colours, idle CPU ${idle_pct} %, exit code $rc"
}

main() {
  local bin mode src
  bin=$(realpath "$1") || fail "no binary"
  mode=$2
  src=${3:-}
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work" || fail "no temporary directory"

  case $mode in
    no-display)
      env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 30 "$bin" >out.txt 2>err.txt
      local rc=$?
      [ "$rc" -eq 1 ] || fail "exit code $rc, expected 1"
      [ "$(wc -l <err.txt)" -eq 1 ] || fail "stderr is not one line: $(cat err.txt)"
      grep -q '^ouzeltool: cannot start SDL video: ' err.txt || fail "stderr: $(cat err.txt)"
      echo "exit code 1: $(cat err.txt)"
      ;;
    xvfb)
      for tool in xvfb-run xdotool xprop import convert; do
        command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup.sh"
      done
      cat >ouzel.yml <<'YML'
version: "3.0"
input: ""
output: /tmp/ouzel-out
filters:
  - "*.cpp;*.h;*.c;*.hpp;*.lua"
  - "*.xml;*.json;*.yml"
  - "*.*"
filter-index: 0
from: GBK
to: UTF-8
YML
      touch -d '2001-01-01 00:00:00' ouzel.yml
      local before
      before=$(stat -c '%Y %s' ouzel.yml; sha256sum ouzel.yml)
      timeout 120 "$(dirname "$self")/../support/xvfb_run.sh" -s "-screen 0 1280x1024x24 -nolisten tcp" \
        "$self" --inner "$bin" "$work" "$src" || fail "run in the virtual X server failed"
      [ "$(stat -c '%Y %s' ouzel.yml; sha256sum ouzel.yml)" = "$before" ] ||
        fail "the settings file was rewritten"
      ;;
    *) fail "unknown mode $mode" ;;
  esac
}

if [ "${1:-}" = --inner ]; then
  cd "$3" || fail "no work directory"
  inner "$2" "${4:-}"
else
  main "$@"
fi
