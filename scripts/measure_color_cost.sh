#!/usr/bin/env bash
# What --color-management costs: the default 160x120 miss of the benchmark
# photos (tools/photo_corpus, the "measured" ones) through a warm daemon,
# with and without the option, side by side in one run, on the photos as
# made (no profile) and on copies carrying an Adobe RGB profile (made here by
# lcms2, in two APP2 segments as cameras write it):
#   scripts/measure_color_cost.sh [rounds] [repeats]
# Per run: a fresh daemon of build/ (default options, plus the option or
# not), one client, an untimed warm-up request, then `rounds` miss rounds over
# the photos (build/tools/loadgen/ql_loadgen); printed per run: the mean and
# median wall time per request and the daemon's CPU per request. Runs
# alternate, with and without, `repeats` times. Uses the real socket and pid
# file: as root it runs in a private /tmp and /run of its own.
set -euo pipefail
# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$(dirname "$0")/lib/daemon.sh"
ql_private_tmp "$0" "$(dirname "$0")/../build" -- "$@"
cd "$(dirname "$0")/.."
rounds="${1:-5}"
repeats="${2:-3}"
build="$PWD/build"
loadgen="$build/tools/loadgen/ql_loadgen"
photos="$build/color-cost"
mkdir -p "$photos/corpus" "$photos/profiled"
[ -f "$photos/corpus/manifest.txt" ] ||
  "$build/tools/photo_corpus/ql_photo_corpus" --out "$photos/corpus" >/dev/null
if [ ! -f "$photos/adobe.icc" ]; then
  cat >"$photos/icc.c" <<'C'
#include <lcms2.h>
#include <stdio.h>
int main(void) {
  cmsCIExyY d65 = {0.3127, 0.3290, 1};
  cmsCIExyYTRIPLE adobe = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* g = cmsBuildGamma(NULL, 563.0 / 256.0);
  cmsToneCurve* curves[3] = {g, g, g};
  cmsHPROFILE p = cmsCreateRGBProfile(&d65, &adobe, curves);
  static char bytes[65536];
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(p, NULL, &size); /* the size; given a buffer, lcms2 keeps it */
  if (size > sizeof bytes || !cmsSaveProfileToMem(p, bytes, &size)) return 1;
  fwrite(bytes, 1, size, stdout);
  return 0;
}
C
  cc -o "$photos/icc" "$photos/icc.c" -llcms2
  "$photos/icc" >"$photos/adobe.icc"
fi
plain=()
profiled=()
while read -r name _ _ _ role _; do
  [ "$role" = measured ] || continue
  plain+=("$photos/corpus/$name")
  profiled+=("$photos/profiled/$name")
  python3 - "$photos/adobe.icc" "$photos/corpus/$name" "$photos/profiled/$name" <<'PY'
import sys
icc = open(sys.argv[1], 'rb').read()
jpeg = open(sys.argv[2], 'rb').read()
half = len(icc) // 2
def app2(seq, part):
    body = b'ICC_PROFILE\0' + bytes([seq, 2]) + part
    return b'\xff\xe2' + (len(body) + 2).to_bytes(2, 'big') + body
open(sys.argv[3], 'wb').write(jpeg[:2] + app2(1, icc[:half]) + app2(2, icc[half:]) + jpeg[2:])
PY
done <"$photos/corpus/manifest.txt"
warmup="$photos/corpus/warmup.jpg"
work=$(mktemp -d)
trap 'ql_daemon_stop; rm -rf "$work"' EXIT
tck=$(getconf CLK_TCK)

# run OPTION PHOTO...: one daemon, one line.
run() {
  local option=$1
  shift
  rm -rf "$work/cache" "$work/log"
  mkdir -p "$work/cache" "$work/log"
  # shellcheck disable=SC2086  # the option is one word or none
  ql_daemon_start "" /var/run/quorlin_gd.pid "$build/src/main/quorlin_gd" -l 0 -o "$work/log" \
    $option 2>/dev/null || true
  local pid=$QL_DAEMON_PID
  sleep 0.3
  local out
  out=$("$loadgen" --cache-root "$work/cache" --width 160 --height 120 --miss-rounds "$rounds" \
    --warmup "$warmup" --format kv "$@")
  local -a st
  read -r -a st < <(sed 's/.*) //' "/proc/$pid/stat")
  ql_daemon_stop
  local requests=$((rounds * $# + 1))
  echo "$(echo "$out" | grep -E '\.miss\.(mean_ms|p50_ms)=' | sed 's/^[^.]*\.miss\.//' | tr '\n' ' ')" \
    "daemon_cpu_ms=$(((st[11] + st[12]) * 1000 / tck / requests))"
}

for i in $(seq "$repeats"); do
  for photos_kind in profiled plain; do
    for option in "" --color-management; do
      if [ "$photos_kind" = profiled ]; then set -- "${profiled[@]}"; else set -- "${plain[@]}"; fi
      echo "$photos_kind ${option:-(default)} $i $(run "$option" "$@") load=$(cut -d' ' -f1 /proc/loadavg)"
    done
  done
done
