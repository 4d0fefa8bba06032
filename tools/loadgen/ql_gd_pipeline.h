// The bare libgd thumbnail pipeline, in-process and with nothing around it:
// decode a JPEG file at full size, scale (fill the box from its centred crop,
// or fit the whole picture) with gdImageCopyResized, encode as PNG. It is
// the yardstick the daemon's default mode is measured against: the daemon
// should cost little more than this per photo.
//
// Stateless free functions; any thread may call them. Pictures are owned by
// unique pointers inside each call (PipelineScaleAndEncode only reads the
// caller's); results are plain vectors.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_GD_PIPELINE_H_
#define QUORLIN_TOOLS_LOADGEN_QL_GD_PIPELINE_H_

#include <gd.h>

#include <cstddef>
#include <string>
#include <vector>

struct QLPipelineRequest {
  int width = 160;
  int height = 120;
  bool full_screen = false;
  int png_level = -1;           // -1: the encoder's default zlib level
  bool png_unfiltered = false;  // no PNG row filter (only encoders that offer the setting)
};

// Thumbnail size for a `source_width` x `source_height` picture, and the
// source rectangle it is taken from. False for sizes that are not positive.
struct QLPipelineGeometry {
  int width = 0, height = 0;  // thumbnail
  int source_x = 0, source_y = 0, source_width = 0, source_height = 0;
};
bool PipelineGeometry(int source_width, int source_height, QLPipelineRequest const& request,
                      QLPipelineGeometry* geometry);

// PNG bytes of the thumbnail of the JPEG file at `path`; empty when the file
// cannot be read or decoded, or the sizes are not usable.
std::vector<unsigned char> PipelineThumbnail(std::string const& path,
                                             QLPipelineRequest const& request);

// The steps after the decode: crop-scale `photo` (the caller keeps it) and
// encode the thumbnail as PNG with libgd; empty on failure.
std::vector<unsigned char> PipelineScaleAndEncode(gdImagePtr photo,
                                                  QLPipelineRequest const& request);

#endif  // QUORLIN_TOOLS_LOADGEN_QL_GD_PIPELINE_H_
