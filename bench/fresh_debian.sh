#!/usr/bin/env bash
# What the test command costs a fresh Debian 12: packages, MB and time, in a throwaway chroot.
#
#   sudo bench/fresh_debian.sh WORK COMMIT...         # scripts/setup.sh of each commit
#   sudo bench/fresh_debian.sh --full WORK COMMIT...  # the whole scripts/test.sh
#
# WORK (outside the repository) keeps the minimal Debian 12 made once by debootstrap; each
# commit gets a fresh copy of it, with a clone of this repository checked out at the commit.
# Prints one line per commit: seconds, packages added, MiB they occupy installed.
set -euo pipefail

full=0
[ "${1:-}" = --full ] && { full=1; shift; }
[ $# -ge 2 ] || { sed -n 4,5p "$0" >&2; exit 2; }
work=$(realpath -m "$1"); shift
repo=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, mount)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "needs debootstrap (apt-get install debootstrap)" >&2; exit 2; }

base=$work/base
if [ ! -d "$base/usr" ]; then
  debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian >"$work/debootstrap.log"
fi

packages() { chroot "$1" dpkg-query -W -f '${Package} ${Installed-Size}\n' | sort; }

# Important: a mount left behind would make the next copy of the root copy the host's /dev.
mounted=()
release() { for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}"; done; mounted=(); }
trap release EXIT

for commit in "$@"; do
  root=$work/$commit
  rm -rf "$root"
  cp -a "$base" "$root"
  git clone -q "$repo" "$root/src"
  git -C "$root/src" checkout -q "$commit"
  for m in proc sys dev dev/pts dev/shm; do
    mount --bind "/$m" "$root/$m"
    mounted+=("$root/$m")
  done
  packages "$root" >"$work/$commit.before"
  script=./scripts/setup.sh
  [ $full = 1 ] && script=./scripts/test.sh
  start=$(date +%s)
  rc=0
  chroot "$root" bash -c "cd /src && $script" >"$work/$commit.log" 2>&1 || rc=$?
  seconds=$(($(date +%s) - start))
  packages "$root" >"$work/$commit.after"
  release
  added=$(comm -13 "$work/$commit.before" "$work/$commit.after" | wc -l)
  kib=$(($(awk '{s += $2} END {print s}' "$work/$commit.after") -
    $(awk '{s += $2} END {print s}' "$work/$commit.before")))
  echo "$commit: $script exit $rc, $seconds s, $added packages, $((kib / 1024)) MiB installed," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg); log $work/$commit.log"
done
