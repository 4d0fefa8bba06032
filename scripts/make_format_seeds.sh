#!/usr/bin/env bash
# Writes the seed corpora of the extended_formats fuzz target
# (fuzz/corpus/extended_formats/: WebP, animated WebP and TIFF files, each in
# front of the target's three option bytes: format and mode, width - 1,
# height - 1) and the HEIF, AVIF, JPEG XL and PDF seeds of the media_decoder
# target (fuzz/corpus/media_decoder/: the file after one byte, 2 for HEIF, 3
# for AVIF, 4 for JPEG XL, 5 for PDF), small files made by Debian's encoders
# (scripts/install-deps.sh installs them) from a test pattern ffmpeg draws,
# PDFs written here, plus truncated copies.
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
ffmpeg -loglevel error -i "$work/p.png" -vf negate "$work/n.png"
img2webp -lossy "$work/p.png" -d 100 "$work/n.png" -o "$work/anim.webp" >/dev/null 2>&1
cjxl -d 1 "$work/p.png" "$work/a.jxl" >/dev/null 2>&1
cjxl -d 0 "$work/p.png" "$work/l.jxl" >/dev/null 2>&1
ffmpeg -loglevel error -i "$work/p.png" "$work/p.jpg"
exif --create-exif --ifd=0 -t 0x0112 --set-value=6 -o "$work/o.jpg" "$work/p.jpg" >/dev/null
cjxl --lossless_jpeg=1 "$work/o.jpg" "$work/o.jxl" >/dev/null 2>&1

# pdf OUT ROTATE CONTENT: a one-page PDF with a crop box, Helvetica (not
# embedded: a font found through fontconfig) and CONTENT as its page.
pdf() {
  local objects=(
    "<< /Type /Catalog /Pages 2 0 R >>"
    "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 60 40] /CropBox [5 5 55 35] /Rotate $2 /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>"
    "<< /Length ${#3} >>"$'\n'"stream"$'\n'"$3"$'\n'"endstream"
    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
  local body=$'%PDF-1.4\n' xref="" entry i
  for i in "${!objects[@]}"; do
    printf -v entry '%010d 00000 n \n' "${#body}"
    xref+=$entry
    body+="$((i + 1)) 0 obj"$'\n'"${objects[$i]}"$'\n'"endobj"$'\n'
  done
  printf '%sxref\n0 6\n0000000000 65535 f \n%strailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' \
    "$body" "$xref" "${#body}" >"$1"
}
pdf "$work/a.pdf" 0 "1 0 0 rg 5 5 25 30 re f BT /F1 8 Tf 30 20 Td (Hi) Tj ET"
pdf "$work/r.pdf" 90 "0 0 1 rg 10 10 30 10 re f BT /F1 12 Tf 8 8 Td (Page) Tj ET"

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
seed webp-animated 0 "$work/anim.webp"
# media_seed NAME KIND FILE: the kind byte and the file, whole and cut.
media_seed() {
  { printf "\\$(printf '%03o' "$2")"; cat "$3"; } >"$media/$1"
  { printf "\\$(printf '%03o' "$2")"; head -c $(($(stat -c %s "$3") / 2)) "$3"; } >"$media/$1-cut"
}
media_seed heic 2 "$work/a.heic"
media_seed avif 3 "$work/a.avif"
media_seed jxl 4 "$work/a.jxl"
media_seed jxl-lossless 4 "$work/l.jxl"
media_seed jxl-jpeg-turned 4 "$work/o.jxl"
media_seed pdf 5 "$work/a.pdf"
media_seed pdf-rotated 5 "$work/r.pdf"
ls "$out" "$media"
