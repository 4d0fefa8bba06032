// The first frame of an animated WebP, which libgd's WebP reader refuses,
// through libwebp's demux API: the frame composed onto the animation's
// canvas at its offset, over a transparent canvas (as a player shows it
// first), with alpha kept the way libgd keeps a still WebP's.
//
// Only the first frame's bytes are needed: at most kQLMaxWebpPrefixBytes
// from the start of the file are read, so a long animation costs no more
// than its first frame. Every size is checked before anything of that size
// is allocated: the canvas against `max_canvas_pixels`, the frame against
// the canvas.
//
// Contract: stateless; any thread, on a descriptor it alone reads (read with
// pread from offset 0; the shared offset is left alone). Runs in the daemon:
// libgd runs libwebp's decoder here already for still files, and the demuxer
// is a small, heavily fuzzed parser of RIFF chunks.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_WEBP_ANIMATION_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_WEBP_ANIMATION_H_

#include <cstdint>
#include <string>

#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"

// A first frame larger than this (a 16383 x 16383 canvas of lossless noise
// is about 1 GiB; real first frames are far smaller) is not decoded.
constexpr std::uint64_t kQLMaxWebpPrefixBytes = 64ull << 20;

// An empty picture, with `*error` saying why, when the first frame cannot
// be decoded.
QLDecodedPicture DecodeFirstWebpFrame(int fd, std::uint64_t max_canvas_pixels, std::string* error);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_WEBP_ANIMATION_H_
