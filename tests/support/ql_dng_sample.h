// A minimal DNG written byte by byte: no Debian tool writes one. IFD 0 holds
// a baseline JPEG preview (compression 7) and the Orientation tag; a SubIFD
// holds a small 8-bit uncompressed CFA image, which is all LibRaw needs to
// take the file for a camera RAW. Pure function; any thread may call it.
#ifndef QUORLIN_TESTS_SUPPORT_QL_DNG_SAMPLE_H_
#define QUORLIN_TESTS_SUPPORT_QL_DNG_SAMPLE_H_

#include "support/ql_sample_files.h"

namespace qltest {

// `preview` is a JPEG of preview_width x preview_height pixels.
Bytes DngWithPreview(Bytes const& preview, int preview_width, int preview_height, int orientation);

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_DNG_SAMPLE_H_
