// Shrink-on-load JPEG decoding: libjpeg's DCT scaling decodes a JPEG
// directly at 1/2, 1/4 or 1/8 of its size, which skips most of the work and
// memory of a full decode when only a thumbnail is wanted.
//
// The reduction is the largest one that still leaves at least as many
// pixels in the rectangle the thumbnail samples as the thumbnail has, in
// each direction; the thumbnail is then made from the reduced picture with
// the same geometry (QLThumbnailProvider::ResizeImage with the original
// size), so its size and orientation are those of a full decode.
//
// libjpeg reports fatal errors through a longjmp out of its error handler;
// that happens only inside one C-style function here, in which no object
// with a destructor is alive, and such an error comes back as a failed
// decode. Stateless: any thread may call these functions on a FILE* or buffer
// it alone uses. The returned picture is owned by the caller's shared_ptr.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_JPEG_SCALED_DECODER_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_JPEG_SCALED_DECODER_H_

#include <gd.h>

#include <boost/shared_ptr.hpp>
#include <cstdio>

#include "thumbnail/ql_thumbnail_geometry.h"

// A decoded picture with the size of the picture it was decoded from.
struct QLDecodedPicture {
  boost::shared_ptr<gdImageStruct> picture;  // empty when decoding failed
  int original_width = 0;                    // as stored in the file
  int original_height = 0;
  int denominator = 1;  // the picture is about original / denominator

  explicit operator bool() const { return static_cast<bool>(picture); }
};

// 8, 4 or 2 when the source rectangle of `geometry`, divided by it, still
// covers the canvas in both directions; 1 when no reduction does.
int ChooseJpegScaleDenominator(QLThumbnailGeometry const& geometry);

enum class QLJpegDecodeStatus {
  kDecoded,
  kFailed,       // libjpeg refused the data (the reason is logged as WARN)
  kUnsupported,  // CMYK or YCCK: left to libgd's decoder, which converts them
};

// Decodes the JPEG in `file` (from its current position) or in memory,
// reduced as far as a thumbnail of `width` x `height` (in `full_screen` mode
// or not) allows. On kDecoded `out` holds the picture and the original size.
QLJpegDecodeStatus DecodeJpegScaled(std::FILE* file, int width, int height, bool full_screen,
                                    QLDecodedPicture* out);
QLJpegDecodeStatus DecodeJpegScaled(void const* bytes, std::size_t size, int width, int height,
                                    bool full_screen, QLDecodedPicture* out);

// The JPEG decode of the file handlers and default pictures: libgd's decoder
// (a full-size picture) unless `shrink_on_load` is set, else DecodeJpegScaled
// with libgd's decoder for the colour spaces it leaves to it. `file` must be
// at its start. Returns an empty picture when the data is not a JPEG.
QLDecodedPicture DecodeJpegForThumbnail(std::FILE* file, int width, int height, bool full_screen,
                                        bool shrink_on_load);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_JPEG_SCALED_DECODER_H_
