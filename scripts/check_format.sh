#!/usr/bin/env bash
# Checks that every C++ source in the repository is formatted by clang-format 14 with the
# repository's .clang-format (a newer or older clang-format formats differently, so the version
# is checked first). Lists the files that differ; exit 1 when any does.
# Usage: scripts/check_format.sh [FILE...]   (default: every tracked .cpp and .h file)
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${CLANG_FORMAT:-clang-format-14}
command -v "$tool" >/dev/null || { echo "check_format: $tool is missing (scripts/setup.sh)" >&2; exit 2; }
version=$("$tool" --version)
[[ $version =~ version\ 14\. ]] || { echo "check_format: need clang-format 14, have: $version" >&2; exit 2; }

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
fi

bad=0
for f in "${files[@]}"; do
  if ! "$tool" --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f"
    bad=1
  fi
done
exit $bad
