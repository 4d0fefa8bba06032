#!/usr/bin/env bash
# Writes the seed corpora of the extended_formats fuzz target
# (fuzz/corpus/extended_formats/: WebP and TIFF files, each in front of the
# target's three option bytes: format and mode, width - 1, height - 1) and
# the HEIF and AVIF seeds of the media_decoder target (fuzz/corpus/
# media_decoder/: the file after one byte, 2 for HEIF, 3 for AVIF), small
# files made by Debian's encoders (scripts/install-deps.sh installs them)
# from a test pattern ffmpeg draws, plus truncated copies.
set -euo pipefail
out=${1:-"$(dirname "$0")/../fuzz/corpus/extended_formats"}
media=${2:-"$(dirname "$0")/../fuzz/corpus/media_decoder"}
mkdir -p "$out" "$media"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -loglevel error -f lavfi -i testsrc=size=40x24 -frames:v 1 "$work/p.png"
heif-enc -q 50 -o "$work/a.heic" "$work/p.png" >/dev/null
avifenc --irot 1 "$work/p.png" "$work/a.avif" >/dev/null
cwebp -quiet -q 50 "$work/p.png" -o "$work/a.webp"
cwebp -quiet -lossless "$work/p.png" -o "$work/l.webp"
printf 'II*\0\10\0\0\0\1\0\22\1\3\0\1\0\0\0\6\0\0\0\0\0\0\0' >"$work/exif"
webpmux -set exif "$work/exif" "$work/l.webp" -o "$work/x.webp" >/dev/null 2>&1
ffmpeg -loglevel error -i "$work/p.png" -pix_fmt gray -c:v tiff "$work/g.tif"
ffmpeg -loglevel error -i "$work/p.png" -pix_fmt rgb24 -c:v tiff "$work/c.tif"
tiffset -s 274 6 "$work/c.tif"

# seed NAME SELECTOR FILE: option bytes (full-screen off, 32 x 24) and the file.
seed() {
  printf "\\$(printf '%03o' "$2")\\037\\027" >"$out/$1"
  cat "$3" >>"$out/$1"
  local size
  size=$(stat -c %s "$3")
  printf "\\$(printf '%03o' $(($2 + 2)))\\037\\027" >"$out/$1-cut"
  head -c $((size / 2)) "$3" >>"$out/$1-cut"
}
seed webp-lossy 0 "$work/a.webp"
seed webp-exif 0 "$work/x.webp"
seed tiff-gray 1 "$work/g.tif"
seed tiff-turned 1 "$work/c.tif"
# media_seed NAME KIND FILE: the kind byte and the file, whole and cut.
media_seed() {
  { printf "\\$(printf '%03o' "$2")"; cat "$3"; } >"$media/$1"
  { printf "\\$(printf '%03o' "$2")"; head -c $(($(stat -c %s "$3") / 2)) "$3"; } >"$media/$1-cut"
}
media_seed heic 2 "$work/a.heic"
media_seed avif 3 "$work/a.avif"
ls "$out" "$media"
