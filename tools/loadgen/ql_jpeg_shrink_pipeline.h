// The libjpeg shrink pipeline, in-process and with nothing around it: decode
// a JPEG file with libjpeg's DCT scaling at the largest reduction (1/8, 1/4
// or 1/2) that still leaves the source rectangle at least as many pixels as
// the thumbnail in each direction (the rule the daemon's shrink-on-load
// follows), then the bare libgd pipeline's crop-scale and PNG. It is the
// yardstick for the daemon's --jpeg-shrink-on-load.
//
// Stateless free functions; any thread may call them. libjpeg's default
// error handler ends the process on a fatal decode error, which suits a
// benchmark over generated photos: a broken photo fails the run loudly.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_JPEG_SHRINK_PIPELINE_H_
#define QUORLIN_TOOLS_LOADGEN_QL_JPEG_SHRINK_PIPELINE_H_

#include <string>
#include <vector>

#include "ql_gd_pipeline.h"

// 8, 4 or 2 when the source rectangle of a `source_width` x `source_height`
// picture divided by it still covers the thumbnail; otherwise 1.
int ShrinkDenominator(int source_width, int source_height, QLPipelineRequest const& request);

// PNG bytes of the thumbnail of the JPEG file at `path`; empty on failure.
std::vector<unsigned char> ShrinkPipelineThumbnail(std::string const& path,
                                                   QLPipelineRequest const& request);

#endif  // QUORLIN_TOOLS_LOADGEN_QL_JPEG_SHRINK_PIPELINE_H_
