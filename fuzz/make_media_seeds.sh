#!/usr/bin/env bash
# Writes the seed corpus of the media_decoder fuzz target into
# fuzz/corpus/media_decoder/: small videos in the common containers and
# codecs made by ffmpeg (one with a display rotation, one cut short), and
# DNG files written by the project's ql_dng_seed_writer. Each seed is the
# target's selector byte (0: camera RAW, 1: video) followed by the file.
#   fuzz/make_media_seeds.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out=fuzz/corpus/media_decoder
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

seed() {  # selector file name
  { printf "\\$(printf %03o "$1")"; cat "$2"; } >"$out/$3"
}

cmake --build "$build" --target ql_dng_seed_writer >/dev/null
"$build/tests/media/ql_dng_seed_writer" "$work"
for dng in "$work"/dng_*; do seed 0 "$dng" "$(basename "$dng")"; done

source="color=c=red:size=64x48:rate=10:d=1.5,drawbox=w=16:h=12:c=blue:t=fill"
video() {  # name codec-and-container-arguments...
  local name="$1"
  shift
  ffmpeg -v error -y -f lavfi -i "$source" "$@" "$work/$name"
  seed 1 "$work/$name" "video_$name"
}
video mpeg4.mp4 -c:v mpeg4
video h264.mov -c:v libx264 -preset ultrafast -pix_fmt yuv420p
video mjpeg.avi -c:v mjpeg
video ffv1.mkv -c:v ffv1
video vp8.webm -c:v libvpx -b:v 100k
video mpeg2.ts -c:v mpeg2video -f mpegts
ffmpeg -v error -y -i "$work/mpeg4.mp4" -c copy -metadata:s:v:0 rotate=90 "$work/rotated.mp4"
seed 1 "$work/rotated.mp4" video_rotated.mp4
head -c "$(($(stat -c %s "$work/h264.mov") / 2))" "$work/h264.mov" >"$work/cut.mov"
seed 1 "$work/cut.mov" video_cut_short.mov
ls -l "$out"
