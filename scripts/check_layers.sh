#!/usr/bin/env bash
# Fails when a source includes a project header from a folder it may not use. The folders,
# lowest first: platform, util; the engine's stages transcode, report, detect, then repair,
# policy and undo beside each other, then job; config; app and cli beside each other; the
# window's widgets, views and ui on app, in that order.
# Tests, benchmarks and fuzzers may include anything.
# Usage: scripts/check_layers.sh   (checks every tracked .cpp and .h file of the layer folders)
set -euo pipefail
cd "$(dirname "$0")/.."

# What each folder may include besides itself: a short list, each entry below it.
declare -A allowed=(
  [platform]=""
  [util]="platform"
  [transcode]="platform util"
  [report]="platform util transcode"
  [detect]="platform util transcode report"
  [repair]="platform util transcode report detect"
  [policy]="platform util transcode report detect"
  [undo]="platform util"
  [job]="platform util transcode report detect repair policy undo"
  [config]="platform util transcode report detect repair policy undo job"
  [app]="platform util transcode report detect repair policy undo job config"
  [widgets]="platform util transcode report detect repair policy undo job config app"
  [views]="platform util transcode report detect repair policy undo job config app widgets"
  [ui]="platform util transcode report detect repair policy undo job config app widgets views"
  [cli]="platform util transcode report detect repair policy undo job config"
)

bad=0
# Every folder holding product code must be listed above: a new folder gets a place first.
for dir in $(git ls-files '*.cpp' '*.h' | grep / | cut -d/ -f1 | sort -u); do
  case "$dir" in tests | bench | fuzz) continue ;; esac
  if [ -z "${allowed[$dir]+set}" ]; then
    echo "layer unknown: $dir/ has no place in scripts/check_layers.sh"
    bad=1
  fi
done
for layer in "${!allowed[@]}"; do
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([a-z_]+)\/.*/\1/' <<<"$line")
    [ "$target" = "$layer" ] && continue
    if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
      echo "layer violation: $file (${layer}) includes ${target}/: ${line#*:*:}"
      bad=1
    fi
  done < <(git ls-files "$layer/*.cpp" "$layer/*.h" |
             xargs -r grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' || true)
done
exit $bad
