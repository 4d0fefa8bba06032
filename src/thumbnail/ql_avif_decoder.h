// AVIF decoding with libavif, for `--formats extended`.
//
// libgd has an AVIF reader, but the one Debian 12 ships leaks every buffer
// its read callback hands libavif: about the file's size on each decode, a
// leak no long-running daemon can afford. This reader gives libavif the
// whole file from memory and owns everything it allocates.
//
// Stateless: any thread may call it on a FILE* it alone uses. The returned
// picture (true colour, alpha kept as libgd's reader keeps it) belongs to
// the caller; null when the file is not a decodable AVIF, is larger than
// kQLMaxAvifFileBytes, or its picture has more than `max_pixels` pixels
// (libavif stops before decoding such a frame). Rotation and mirroring are
// not applied (the header probe reads them).
#ifndef QUORLIN_THUMBNAIL_QL_AVIF_DECODER_H_
#define QUORLIN_THUMBNAIL_QL_AVIF_DECODER_H_

#include <gd.h>

#include <cstdint>
#include <cstdio>

// Larger files are not read: an AVIF of the largest picture the source
// limit admits is a few tens of MB at most.
constexpr std::uint64_t kQLMaxAvifFileBytes = 256ull << 20;

gdImagePtr DecodeAvifFile(std::FILE* file, std::uint64_t max_pixels);

#endif  // QUORLIN_THUMBNAIL_QL_AVIF_DECODER_H_
