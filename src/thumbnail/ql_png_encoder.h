// PNG encoding of a finished thumbnail canvas, with the compression settings
// the command line may choose.
//
// Contract:
//  - level -1 and filters -1 (the defaults) give exactly gdImagePngPtr's
//    bytes; a level of 0..9 alone gives gdImagePngPtrEx's bytes.
//  - A filter mask (PNG_FILTER_* bits, libpng's own values) makes the PNG be
//    written here with libpng, since libgd offers no filter setting. The
//    stream then carries the same chunks libgd writes for a true-colour
//    canvas without alpha saving (IHDR RGB 8-bit, pHYs, IDAT, IEND), so it
//    decodes to the same pixels.
//  - Values outside those ranges count as "not set" (the lead checks the
//    command line with the two Is... functions before they get here).
//  - The returned buffer owns its bytes and carries its own deleter; it is
//    empty on failure. Nothing is shared between calls: any thread may call
//    with a canvas of its own.
#ifndef QUORLIN_THUMBNAIL_QL_PNG_ENCODER_H_
#define QUORLIN_THUMBNAIL_QL_PNG_ENCODER_H_

#include <gd.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>

// True for -1 (libgd's default) and the zlib levels 0..9.
bool IsValidPngCompressionLevel(int level);
// True for -1 (libgd's default) and a non-empty mask of PNG_FILTER_NONE,
// _SUB, _UP, _AVG and _PAETH bits.
bool IsValidPngFilterMask(int filters);

// Encodes `image` as PNG. On success `*size` holds the byte count.
boost::shared_ptr<void> EncodeThumbnailPng(gdImagePtr image, int compression_level, int filters,
                                           std::int64_t* size);

#endif  // QUORLIN_THUMBNAIL_QL_PNG_ENCODER_H_
