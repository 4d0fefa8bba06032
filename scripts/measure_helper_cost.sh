#!/usr/bin/env bash
# The miss time of 12 MP HEIC and AVIF photos through a warm daemon
# (--formats extended), two daemon builds side by side, alternately:
#   scripts/measure_helper_cost.sh BEFORE_DIR AFTER_DIR [rounds] [repeats]
# Each *_DIR holds a quorlin_gd (and, for HEIF and AVIF in the helper, its
# quorlin_gd_media_decoder). The photos are made in build/helper-cost/ with
# ffmpeg, heif-enc and avifenc: a 4032x3024 test pattern with noise, as HEIC
# (heif-enc -q 60), as AVIF (avifenc -s 8, default and --min 10 --max 20).
# Per run: one client, 160x120, an untimed warm-up request, then `rounds`
# misses (build/tools/loadgen/ql_loadgen); printed: the median wall time, and
# CPU per request of the daemon and of its reaped children (the helpers).
# Uses the real socket and pid file: as root it runs in a private /tmp and
# /run of its own, so other daemons on the machine are not in its way.
set -euo pipefail
# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$(dirname "$0")/lib/daemon.sh"
ql_private_tmp "$0" "${1:-.}" "${2:-.}" "$(dirname "$0")/../build" -- "$@"
cd "$(dirname "$0")/.."
before="$(realpath "${1:?usage: $0 BEFORE_DIR AFTER_DIR [rounds] [repeats]}")"
after="$(realpath "${2:?usage: $0 BEFORE_DIR AFTER_DIR [rounds] [repeats]}")"
rounds="${3:-9}"
repeats="${4:-2}"
loadgen="$PWD/build/tools/loadgen/ql_loadgen"
photos="$PWD/build/helper-cost"
mkdir -p "$photos"
if [ ! -f "$photos/p12.avif" ]; then
  ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=4032x3024 -vf noise=alls=12:allf=u \
    -frames:v 1 "$photos/p12.png"
  heif-enc -q 60 -o "$photos/p12.heic" "$photos/p12.png" >/dev/null
  avifenc -s 8 --min 10 --max 20 "$photos/p12.png" "$photos/p12q.avif" >/dev/null
  avifenc -s 8 "$photos/p12.png" "$photos/p12.avif" >/dev/null
fi
work=$(mktemp -d)
trap 'ql_daemon_stop; rm -rf "$work"' EXIT
tck=$(getconf CLK_TCK)

# run DIR PHOTO: one daemon, one line.
run() {
  rm -rf "$work/cache" "$work/log"
  mkdir -p "$work/cache" "$work/log"
  # Serving once its pid file names it (the last run's socket may linger,
  # and each build may name its own).
  ql_daemon_start "" /var/run/quorlin_gd.pid \
    "$1/quorlin_gd" -l 0 -o "$work/log" --formats extended 2>/dev/null || true
  local pid=$QL_DAEMON_PID
  sleep 0.3
  local out
  out=$("$loadgen" --cache-root "$work/cache" --width 160 --height 120 --miss-rounds "$rounds" \
    --warmup "$2" "$2")
  local -a st
  read -r -a st < <(sed 's/.*) //' "/proc/$pid/stat")
  ql_daemon_stop
  echo "p50_ms=$(echo "$out" | awk '/^  p50_ms/ {print $2}')" \
    "daemon_cpu_ms=$(((st[11] + st[12]) * 1000 / tck / (rounds + 1)))" \
    "helper_cpu_ms=$(((st[13] + st[14]) * 1000 / tck / (rounds + 1)))"
}

for photo in p12.heic p12q.avif p12.avif; do
  for i in $(seq "$repeats"); do
    for side in before after; do
      dir=$before
      [ "$side" = after ] && dir=$after
      echo "$photo $side $i $(run "$dir" "$photos/$photo") load=$(cut -d' ' -f1 /proc/loadavg)"
    done
  done
done
