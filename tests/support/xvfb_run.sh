#!/usr/bin/env bash
# xvfb-run -a with the given arguments, tried once more only when the virtual display could not
# be opened: xvfb-run -a picks a display number by its lock file, which races with other X
# servers started at the same moment on a shared machine. Any other failure is the test's own.
# Usage: xvfb_run.sh [xvfb-run options] COMMAND [ARG...]
set -uo pipefail

err=$(mktemp)
trap 'rm -f "$err"' EXIT
for attempt in 1 2; do
  xvfb-run -a "$@" 2>"$err"
  rc=$?
  cat "$err" >&2
  [ "$rc" -eq 0 ] && exit 0
  # Important: only the messages of a display that never came up; a test that fails after the
  # window opened is not tried again.
  if [ "$attempt" -eq 1 ] &&
     grep -qE 'Xvfb failed to start|cannot start SDL video: .*(open|display|not available)' "$err"; then
    echo "xvfb_run: the virtual display could not be opened; trying once more" >&2
    continue
  fi
  exit "$rc"
done
