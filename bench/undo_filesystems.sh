#!/usr/bin/env bash
# Runs bench_undo on a fresh image of each file system, ext4, XFS and btrfs, mounted from a loop
# device: what keeping the old content for undo costs a run in place there. A file system whose
# mkfs is missing is skipped with a message (scripts/setup.sh installs btrfs-progs and xfsprogs).
# Needs root (mount). The images are sparse files under WORK, removed at the end.
# Usage: bench/undo_filesystems.sh BUILD_DIR TREE [ROUNDS] [WORK]   (KINDS="ext4 xfs" for fewer)
set -euo pipefail
build=$(realpath "$1")
tree=$(realpath "$2")
rounds=${3:-5}
work=${4:-${TMPDIR:-/var/tmp}/ouzel-undo-bench}
[ "$(id -u)" -eq 0 ] || { echo "undo_filesystems: mounting images needs root" >&2; exit 2; }
mkdir -p "$work"
mounted=""
cleanup() { [ -z "$mounted" ] || umount "$mounted" || true; }
trap cleanup EXIT
for kind in ${KINDS:-ext4 xfs btrfs}; do
  if ! command -v "mkfs.$kind" >/dev/null; then
    echo "$kind: skipped, mkfs.$kind is missing"
    continue
  fi
  image=$work/$kind.img
  mnt=$work/$kind
  rm -f "$image"
  # Every copy is kept (see bench_undo): about half a GB per run, three runs a round.
  truncate -s $(((rounds + 1) * 3 / 2 + 2))G "$image"
  case $kind in
    ext4) mkfs.ext4 -q -F "$image" ;;
    xfs) mkfs.xfs -q -f "$image" ;;
    btrfs) mkfs.btrfs -q -f "$image" >/dev/null ;;
  esac
  mkdir -p "$mnt"
  mount -o loop "$image" "$mnt"
  mounted=$mnt
  echo "== $kind"
  "$build/bench/bench_undo" "$tree" "$mnt" "$rounds" || echo "$kind: an undo did not bring the tree back"
  umount "$mnt"
  mounted=""
  rm -f "$image"
done
