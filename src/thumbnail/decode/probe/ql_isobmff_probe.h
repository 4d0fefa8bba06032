// The HEIF and AVIF walker of the picture-header probe: the file type box,
// then the boxes down to the item properties (see ql_isobmff_probe.cc).
#ifndef QUORLIN_THUMBNAIL_DECODE_PROBE_QL_ISOBMFF_PROBE_H_
#define QUORLIN_THUMBNAIL_DECODE_PROBE_QL_ISOBMFF_PROBE_H_

#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/decode/probe/ql_probe_byte_source.h"

namespace ql_probe {

// From the start of the data; true when the file is of that format and an
// 'ispe' size was found.
bool ProbeHeif(ByteSource& in, QLImageHeader* header);
bool ProbeAvif(ByteSource& in, QLImageHeader* header);

}  // namespace ql_probe

#endif  // QUORLIN_THUMBNAIL_DECODE_PROBE_QL_ISOBMFF_PROBE_H_
