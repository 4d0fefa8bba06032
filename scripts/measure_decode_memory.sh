#!/usr/bin/env bash
# What keeping decode memory between requests buys, and that an idle daemon
# gives it back. Three daemons, measured in turn and interleaved round by
# round (A B C A B C ...) so that load on the machine hits all alike:
#   A  --memory-idle-ms 0: freed memory goes back to the kernel at once
#   B  the same allocator settings through GLIBC_TUNABLES, nothing trimmed
#   C  the default: those settings plus the trim once idle
# Each: one client asks for the same 1632x1224 JPEG as a miss (a fresh cache
# folder each time) 30 times, every request on a new connection, 160x120;
# then the daemon's VmRSS after 10 s idle.
#
#   scripts/measure_decode_memory.sh [BUILD_DIR] [ROUNDS]
#
# Needs the quorlin_gd, ql_loadgen and ql_photo_corpus targets built. It
# starts daemons on the default socket and pid file: run it where no other
# daemon runs; as root it runs in a private /tmp and /run of its own.
set -euo pipefail
# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib/daemon.sh"
BUILD=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}
ql_private_tmp "$0" "$BUILD" -- "$@"
ROUNDS=${2:-5}
WORK=$(mktemp -d)
trap 'ql_daemon_stop; rm -rf "$WORK"' EXIT
mkdir "$WORK/photos"
# shellcheck source=/dev/null  # written by the build
. "$BUILD/ql_protocol.env"  # QL_SOCKET_PATH: the socket the daemon binds
"$BUILD/tools/photo_corpus/ql_photo_corpus" --out "$WORK/photos" >/dev/null
PHOTO=$WORK/photos/p02mp_base_1.jpg
TUNABLES=glibc.malloc.arena_max=1:glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=268435456
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
for round in $(seq 1 "$ROUNDS"); do
  for variant in A B C; do
    environment=(); options=(-l 0 -o "$WORK")
    case $variant in
      A) options+=(--memory-idle-ms 0) ;;
      B) options+=(--memory-idle-ms 0); environment=("GLIBC_TUNABLES=$TUNABLES") ;;
      C) ;;
    esac
    rm -rf "$WORK/cache"; mkdir "$WORK/cache"
    ql_daemon_start "$QL_SOCKET_PATH" /var/run/quorlin_gd.pid \
      env "${environment[@]}" "$BUILD/src/main/quorlin_gd" "${options[@]}" || true
    pid=$QL_DAEMON_PID
    sleep 0.5
    idle=$(rss "$pid")
    out=$("$BUILD/tools/loadgen/ql_loadgen" --cache-root "$WORK/cache" \
          --defaults "$BUILD/default_pictures" --warmup "$PHOTO" --miss-rounds 30 \
          --new-connection --pid "$pid" --format kv --label $variant "$PHOTO")
    p50=$(awk -F= '/\.miss\.p50_ms=/ {print $2}' <<<"$out")
    cpu=$(awk -F= '/\.miss\.cpu_ms_per_request=/ {print $2}' <<<"$out")
    burst=$(rss "$pid")
    sleep 10
    echo "round=$round variant=$variant miss_p50_ms=$p50 daemon_cpu_ms=$cpu" \
         "rss_idle_kb=$idle rss_after_burst_kb=$burst rss_after_10s_idle_kb=$(rss "$pid")"
    ql_daemon_stop
  done
done
