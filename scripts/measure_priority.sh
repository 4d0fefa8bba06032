#!/usr/bin/env bash
# What a person browsing waits for while quorlin_gd_pregen sweeps a library.
# For each daemon build and mode (one provider lock; --jobs 2): the p95
# latency of interactive 160x120 misses asked one at a time, first on an
# idle daemon, then while pregen (--connections 4, 160x120 and 1920x1080
# fit) works through a library of 2-megapixel photos into another cache
# folder. Also the median full-screen miss on the idle daemon: the one
# background decode an interactive request may find ahead of it.
#
#   scripts/measure_priority.sh [BUILD_DIR] [BEFORE_BUILD_DIR] [ROUNDS]
#
# BEFORE_BUILD_DIR, when given, is a build whose daemon predates the
# background key: it runs with this build's pregen, ignores the key, and so
# shows the same sweep without the priority. Needs quorlin_gd,
# quorlin_gd_pregen, ql_loadgen and ql_photo_corpus built. As root it runs
# in a private /tmp and /run of its own.
set -euo pipefail
# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib/daemon.sh"
BUILD=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}
BEFORE=${2:-}
ql_private_tmp "$0" "$BUILD" ${BEFORE:+"$BEFORE"} -- "$@"
ROUNDS=${3:-20}
WORK=$(mktemp -d)
PREGEN_PID=""
stop_pregen() {
  [ -n "$PREGEN_PID" ] || return 0
  kill -INT "$PREGEN_PID" 2>/dev/null || true
  wait "$PREGEN_PID" 2>/dev/null || true
  PREGEN_PID=""
}
trap 'stop_pregen; ql_daemon_stop; rm -rf "$WORK"' EXIT
# shellcheck source=/dev/null  # written by the build
. "$BUILD/ql_protocol.env"  # QL_SOCKET_PATH: the socket the daemon binds
mkdir "$WORK/photos" "$WORK/library"
"$BUILD/tools/photo_corpus/ql_photo_corpus" --out "$WORK/photos" >/dev/null
# Distinct names are distinct resources: a library far longer than one run.
for i in $(seq 1 300); do
  for photo in p02mp_base_1 p02mp_prog_1 p02mp_base_2 p02mp_prog_2; do
    ln "$WORK/photos/$photo.jpg" "$WORK/library/$i-$photo.jpg"
  done
done
ASKED=("$WORK/photos/p02mp_base_1.jpg" "$WORK/photos/p02mp_prog_2.jpg")

loadgen() {  # LABEL OPTIONS... -> the kv lines of one loadgen run
  local label=$1
  shift
  rm -rf "$WORK/cache" && mkdir "$WORK/cache"
  "$BUILD/tools/loadgen/ql_loadgen" --cache-root "$WORK/cache" --defaults "$BUILD/default_pictures" \
    --warmup "${ASKED[0]}" --format kv --label "$label" "$@" "${ASKED[@]}"
}
value() { awk -F= -v key="$1" '$1 ~ key"$" {print $2}'; }

run() {  # NAME BUILD OPTIONS...
  local name=$1 daemon_build=$2
  shift 2
  ql_daemon_start "$QL_SOCKET_PATH" /var/run/quorlin_gd.pid \
    "$daemon_build/src/main/quorlin_gd" -l 0 -o "$WORK" "$@" || { echo "$name: no daemon" >&2; return 1; }
  local idle full loaded pregen_done
  idle=$(loadgen idle --miss-rounds "$ROUNDS" | value '\.miss\.p95_ms')
  full=$(loadgen full --miss-rounds 5 --width 1920 --height 1080 --full-screen |
         value '\.miss\.p50_ms')
  rm -rf "$WORK/pregen-cache" && mkdir "$WORK/pregen-cache"
  "$BUILD/tools/pregen/quorlin_gd_pregen" --walk "$WORK/library" --size 160x120 \
    --size 1920x1080:full --connections 4 --thumbnail-folder "$WORK/pregen-cache" \
    --default-folder "$BUILD/default_pictures" >"$WORK/pregen.out" 2>&1 &
  PREGEN_PID=$!
  sleep 2
  loaded=$(loadgen loaded --miss-rounds "$ROUNDS" | value '\.miss\.p95_ms')
  kill -0 "$PREGEN_PID" 2>/dev/null && pregen_done=no || pregen_done=yes
  stop_pregen
  ql_daemon_stop
  echo "daemon=$name options='$*' idle_p95_ms=$idle under_pregen_p95_ms=$loaded" \
       "full_screen_miss_p50_ms=$full goal_ms=$(awk -v i="$idle" -v f="$full" \
       'BEGIN {printf "%.1f", 1.5 * i + f}') pregen_finished_early=$pregen_done"
}

for build in "$BUILD" ${BEFORE:+"$BEFORE"}; do
  name=after
  [ "$build" = "$BUILD" ] || name=before
  run "$name" "$build"
  run "$name" "$build" --jobs 2
done
