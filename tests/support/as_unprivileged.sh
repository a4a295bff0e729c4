#!/usr/bin/env bash
# Runs a command with file permissions in force: as the user nobody when we are root (root
# reads and lists anything, so permission tests would prove nothing), else as we are.
# Usage: as_unprivileged.sh COMMAND [ARG...]
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then exec "$@"; fi
exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
