#!/usr/bin/env bash
# Bytes and time per thumbnail in each output format, side by side in one run.
# For every variant (png: the default; jpeg; webp; jpeg with
# --embedded-previews) and size (160x120 fill; 1920x1080 fit): a warm daemon,
# one client asking for the benchmark photos as misses (a fresh cache folder
# each round), the variants taking turns round by round so that load on the
# machine hits all alike. Prints per variant and size the median miss over
# every request and the median size of the cache files made.
#
#   scripts/measure_formats.sh [BUILD_DIR] [ROUNDS]
#
# Needs quorlin_gd, ql_loadgen and ql_photo_corpus built. As root it runs in
# a private /tmp and /run of its own.
set -euo pipefail
# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib/daemon.sh"
BUILD=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}
ql_private_tmp "$0" "$BUILD" -- "$@"
ROUNDS=${2:-3}
WORK=$(mktemp -d)
trap 'ql_daemon_stop; rm -rf "$WORK"' EXIT
# shellcheck source=/dev/null  # written by the build
. "$BUILD/ql_protocol.env"  # QL_SOCKET_PATH: the socket the daemon binds
mkdir "$WORK/photos"
"$BUILD/tools/photo_corpus/ql_photo_corpus" --out "$WORK/photos" >/dev/null
PHOTOS=()
for name in p02mp_base_1 p02mp_base_2 p02mp_prog_1 p02mp_prog_2 p12mp_base_1 p12mp_prog_1 \
            p24mp_base_1 p24mp_prog_1; do
  PHOTOS+=("$WORK/photos/$name.jpg")
done
PREVIEWS=("$WORK/photos/pv12mp_o1.jpg" "$WORK/photos/pv12mp_o3.jpg")
VARIANTS=(png jpeg webp jpeg+previews)
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for round in $(seq 1 "$ROUNDS"); do
  for variant in "${VARIANTS[@]}"; do
    options=(--thumbnail-format "${variant%+previews}")
    photos=("${PHOTOS[@]}")
    if [ "$variant" = jpeg+previews ]; then
      options+=(--embedded-previews)
      photos=("${PREVIEWS[@]}")
    fi
    ql_daemon_start "$QL_SOCKET_PATH" /var/run/quorlin_gd.pid \
      "$BUILD/src/main/quorlin_gd" -l 0 -o "$WORK" "${options[@]}"
    for size in small full; do
      geometry=(--width 160 --height 120)
      [ $size = full ] && geometry=(--width 1920 --height 1080 --full-screen)
      rm -rf "$WORK/cache" && mkdir "$WORK/cache"
      "$BUILD/tools/loadgen/ql_loadgen" --cache-root "$WORK/cache" \
        --defaults "$BUILD/default_pictures" --warmup "${photos[0]}" "${geometry[@]}" \
        --format kv --label x "${photos[@]}" |
        awk -F= '/\.miss\.file\..*\.ms=/ {print $2}' >>"$WORK/$variant.$size.ms"
      # The sizes, from the client (loadgen removes the folders it made).
      for photo in "${photos[@]}"; do
        "$BUILD/tools/client/quorlin_gd_client" --path "$photo" "${geometry[@]}" \
          --thumbnail-folder "$WORK/cache" --default-folder "$BUILD/default_pictures" \
          --output "$WORK/thumbnail" >/dev/null 2>&1 || echo "client failed on $photo" >&2
        stat -c %s "$WORK/thumbnail" >>"$WORK/$variant.$size.bytes"
      done
    done
    ql_daemon_stop
  done
done
for variant in "${VARIANTS[@]}"; do
  for size in small full; do
    echo "variant=$variant size=$size miss_median_ms=$(median <"$WORK/$variant.$size.ms")" \
         "bytes_median=$(median <"$WORK/$variant.$size.bytes")" \
         "requests=$(wc -l <"$WORK/$variant.$size.ms")"
  done
done
