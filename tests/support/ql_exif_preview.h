// EXIF blocks that carry a JPEG preview of a chosen picture (IFD 1 with
// JPEGInterchangeFormat and its length) and an Orientation in IFD 0, for the
// tests and benchmarks of thumbnails made from the preview. Pure functions;
// any thread may call them.
#ifndef QUORLIN_TESTS_SUPPORT_QL_EXIF_PREVIEW_H_
#define QUORLIN_TESTS_SUPPORT_QL_EXIF_PREVIEW_H_

#include <cstdint>

#include "support/ql_sample_files.h"

namespace qltest {

// An APP1 segment (big-endian TIFF) holding `orientation` in IFD 0 and
// `preview` (JPEG bytes, under 64 KiB) as the IFD 1 preview.
Bytes ExifSegmentWithPreview(std::uint16_t orientation, Bytes const& preview);

// A width x height JPEG of `photo_color` carrying a preview_width x
// preview_height JPEG preview of `preview_color`.
Bytes JpegWithPreview(int width, int height, Rgb photo_color, int preview_width, int preview_height,
                      Rgb preview_color, std::uint16_t orientation = 1);

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_EXIF_PREVIEW_H_
