#!/usr/bin/env bash
# Writes the seed corpora of the frame_receiver, command_handler,
# image_handler and exif_orientation fuzz targets into fuzz/corpus/<name>/
# by building and running fuzz/make_seed_corpora.cc (pictures drawn with
# libgd, EXIF and ID3 bytes written by hand). Safe to run again: the same
# files are written with the same bytes. Files found by fuzzing that were
# added to a corpus by hand (names starting with "found_") are kept.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -std=c++17 -O1 -Wall -Wextra -o "$work/make_seed_corpora" make_seed_corpora.cc \
  $(pkg-config --cflags --libs gdlib)
"$work/make_seed_corpora" corpus
