#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a bounded time,
# starting from the seed corpus in fuzz/corpus/. New inputs go to build-fuzz/corpus/ (never
# committed); a crash leaves its input in build-fuzz/ and fails the script.
# Usage: scripts/fuzz.sh [SECONDS_EACH] [TARGET...]   (default 5 seconds, every target)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-5}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(filter job settings transcode)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DOUZEL_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz >/dev/null

# The settings target writes a file per input: a memory file system makes it several times faster.
scratch=${FUZZ_TMPDIR:-/dev/shm}
[ -d "$scratch" ] && [ -w "$scratch" ] || scratch=${TMPDIR:-/tmp}

for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  mkdir -p "$work"
  echo "fuzz_$t: ${seconds}s"
  # -timeout: one input may take at most 10 s; -rss_limit_mb: the machine is shared, and
  # libFuzzer's own tables grow over a long run.
  TMPDIR=$scratch build-fuzz/fuzz/fuzz_$t "$work" "fuzz/corpus/$t" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=4096 -artifact_prefix="build-fuzz/crash-$t-" -print_final_stats=1 \
    2>"build-fuzz/fuzz_$t.log" || {
    tail -n 40 "build-fuzz/fuzz_$t.log" >&2
    echo "fuzz_$t failed; the input is in build-fuzz/crash-$t-*" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units|^Done' "build-fuzz/fuzz_$t.log" || true
done
