#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the tool.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ouzeltool
exec ./build/ouzeltool
