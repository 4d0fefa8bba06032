#!/usr/bin/env bash
# Installs what is needed, builds, and runs the daemon in the foreground.
# Extra arguments go to the daemon (for example: -l 2 -o /var/log).
# Needs root: the single-instance lock lives in /var/run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh plain >/dev/null
exec build/src/main/quorlin_gd "$@"
