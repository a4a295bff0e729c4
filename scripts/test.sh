#!/usr/bin/env bash
# Installs what is missing, builds into build/, runs every test; then the unit and headless UI
# tests again under ThreadSanitizer in build-tsan/ (the real-window tests run the normal build).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure --timeout 300

cmake -S . -B build-tsan -G Ninja -DOUZEL_TSAN=ON -DOUZEL_GUI=ON -DOUZEL_BENCH=OFF >/dev/null
cmake --build build-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure --timeout 300 -LE 'e2e|window'
