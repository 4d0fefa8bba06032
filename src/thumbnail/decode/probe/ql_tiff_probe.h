// The TIFF walker of the picture-header probe, also used for the EXIF block
// of a WebP: the header and the first directory's size and orientation tags.
#ifndef QUORLIN_THUMBNAIL_DECODE_PROBE_QL_TIFF_PROBE_H_
#define QUORLIN_THUMBNAIL_DECODE_PROBE_QL_TIFF_PROBE_H_

#include <cstdint>

#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/decode/probe/ql_probe_byte_source.h"

namespace ql_probe {

struct TiffFields {
  bool has_width = false;
  bool has_height = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int orientation = 1;
  std::uint32_t bits_per_sample = 1;  // the first value; 1 when the tag is missing
};

// Reads the TIFF header and the entries of its first directory from `in`,
// which is at the header. `length`: bytes available from there (UINT32_MAX
// for a whole file). Only a directory after the header can be reached, as
// the data is read front to back. Several entries for one size tag: the
// largest counts.
bool ReadFirstIfd(ByteSource& in, std::uint32_t length, TiffFields* fields);

// From the start of a TIFF file.
bool ProbeTiff(ByteSource& in, QLImageHeader* header);

}  // namespace ql_probe

#endif  // QUORLIN_THUMBNAIL_DECODE_PROBE_QL_TIFF_PROBE_H_
