#!/usr/bin/env bash
# quorlin_gd_pregen over a generated library of 1,000 files: 400 JPEG, 250
# PNG, 150 GIF, 100 MP3 with cover art and 100 broken files (cut-short JPEGs,
# random bytes named .png, empty .gif). Starts the daemon with --jobs 2, runs
# the tool with 1 and with 2 connections (each into a fresh cache folder),
# then once more over the filled cache, and prints the summaries, exit
# statuses and throughput. Then the speed of a second run at 10,000 entries
# (10,000 small PNGs, made once, then asked again).
#
#   scripts/pregen_demo.sh [BUILD_DIR] [WORK_DIR]
#
# The daemon binds its fixed socket (QL_SOCKET_PATH in BUILD_DIR/ql_protocol.env):
# run this where no other daemon serves it. Needs ffmpeg (installed through install-deps.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=${2:-$(mktemp -d /tmp/pregen_demo.XXXXXX)}
daemon=$build/src/main/quorlin_gd
pregen=$build/tools/pregen/quorlin_gd_pregen
defaults=$build/default_pictures
# shellcheck source=/dev/null  # written by the build
. "$build/ql_protocol.env"
socket=$QL_SOCKET_PATH
# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$here/scripts/lib/daemon.sh"

command -v ffmpeg >/dev/null || "$here/scripts/install-deps.sh" ffmpeg
for binary in "$daemon" "$pregen"; do
  [ -x "$binary" ] || { echo "missing $binary: build first" >&2; exit 2; }
done
if [ -S "$socket" ] && "$build/tools/client/quorlin_gd_client" --path "$defaults/image.jpg" \
    --output /dev/null --timeout 2 2>/dev/null; then
  echo "a daemon already serves $socket; run this where it is free" >&2
  exit 2
fi

library=$work/library
mkdir -p "$library/jpg" "$library/png" "$library/gif" "$library/mp3" "$library/broken" \
  "$work/small"
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }

echo "== generating 1,000 files in $library"
ff -f lavfi -i testsrc2=size=1600x1200:rate=25 -frames:v 400 -q:v 4 "$library/jpg/photo%04d.jpg"
ff -f lavfi -i mandelbrot=size=800x600:rate=25 -frames:v 250 "$library/png/drawing%04d.png"
# A GIF needs the gif muxer's header: one ffmpeg run per file.
for i in $(seq 1 150); do
  ff -ss "$i" -f lavfi -i testsrc=size=480x360:rate=1 -frames:v 1 -f gif \
    "$library/gif/anim$(printf %04d "$i").gif"
done
for i in $(seq 1 10); do
  ff -f lavfi -i "sine=frequency=$((200 + 40 * i)):duration=1" \
    -i "$library/jpg/photo$(printf %04d $((i * 7))).jpg" -map 0 -map 1 -c:a libmp3lame \
    -c:v copy -id3v2_version 3 -metadata:s:v comment="Cover (front)" "$library/mp3/song$i.mp3"
  for copy in $(seq 1 9); do cp "$library/mp3/song$i.mp3" "$library/mp3/song${i}_$copy.mp3"; done
done
# A JPEG cut after its first scan lines still decodes (the rest grey); one cut
# inside its headers does not.
for i in $(seq 1 50); do
  head -c $((i % 2 ? 3000 : 300)) "$library/jpg/photo$(printf %04d "$i").jpg" \
    >"$library/broken/cut$i.jpg"
done
for i in $(seq 1 25); do head -c 5000 /dev/urandom >"$library/broken/noise$i.png"; done
for i in $(seq 1 25); do : >"$library/broken/empty$i.gif"; done
find "$library" -type f | sort | awk '{ printf "%d\t%s\n", NR, $0 }' >"$work/list.txt"
echo "$(wc -l <"$work/list.txt") files listed in $work/list.txt"
cut -f2 "$work/list.txt" | xargs -d '\n' cat >/dev/null  # the same warm page cache for every run

echo "== starting the daemon with --jobs 2"
trap ql_daemon_stop EXIT
ql_daemon_start "$socket" "$work/quorlin_gd.pid" \
  "$daemon" --jobs 2 -l 1 -o "$work" --pid-file "$work/quorlin_gd.pid" 2>"$work/daemon.err" || true

run() {  # run NAME ARGS...: the tool's summary line and exit status
  local name=$1
  shift
  local status=0
  "$pregen" --default-folder "$defaults" "$@" 2>"$work/$name.err" || status=$?
  printf '%-24s exit %d  %s\n' "$name" "$status" "$(tail -n 1 "$work/$name.err")"
}

echo "== 1,000 files, one size (160x120)"
run "1 connection" --list "$work/list.txt" --size 160x120 --thumbnail-folder "$work/cache1"
run "2 connections" --list "$work/list.txt" --size 160x120 --thumbnail-folder "$work/cache2" \
  --connections 2
run "again, 2 connections" --list "$work/list.txt" --size 160x120 \
  --thumbnail-folder "$work/cache2" --connections 2
run "again, 1 connection" --list "$work/list.txt" --size 160x120 \
  --thumbnail-folder "$work/cache1"
# shellcheck disable=SC2012  # the cache's names are plain
echo "cache files: $(ls "$work/cache1" | wc -l) (1 connection), $(ls "$work/cache2" | wc -l) (2)"

echo "== a second run at 10,000 entries (small PNGs)"
ff -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 10000 "$work/small/s%05d.png"
run "10,000: first" --walk "$work/small" --size 32x24 --thumbnail-folder "$work/cache3" \
  --connections 2
run "10,000: again" --walk "$work/small" --size 32x24 --thumbnail-folder "$work/cache3"
echo "details: $work/*.err; daemon log: $work/gd.log"
