#!/usr/bin/env bash
# Fails when a source includes a project header from a layer it may not use. Layers, lowest
# first: platform, util, convert, config, app, ui; cli sits on config beside app and ui.
# Tests, benchmarks and fuzzers may include anything.
# Usage: scripts/check_layers.sh   (checks every tracked .cpp and .h file of the layer folders)
set -euo pipefail
cd "$(dirname "$0")/.."

# What each layer may include besides itself.
declare -A allowed=(
  [platform]=""
  [util]="platform"
  [convert]="platform util"
  [config]="platform util convert"
  [app]="platform util convert config"
  [ui]="platform util convert config app"
  [cli]="platform util convert config"
)

bad=0
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
