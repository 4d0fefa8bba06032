// The WebP walker of the picture-header probe: the VP8, VP8L or VP8X header
// (for an animation its canvas, the size every frame is composed onto), the
// animation flag and the Orientation in the EXIF chunk of an extended file.
#ifndef QUORLIN_THUMBNAIL_DECODE_PROBE_QL_WEBP_PROBE_H_
#define QUORLIN_THUMBNAIL_DECODE_PROBE_QL_WEBP_PROBE_H_

#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/decode/probe/ql_probe_byte_source.h"

namespace ql_probe {

// From the start of the data.
bool ProbeWebp(ByteSource& in, QLImageHeader* header);

}  // namespace ql_probe

#endif  // QUORLIN_THUMBNAIL_DECODE_PROBE_QL_WEBP_PROBE_H_
