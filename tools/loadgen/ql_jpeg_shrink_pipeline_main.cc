// ql_jpeg_shrink_pipeline: the libjpeg shrink pipeline, warm, over photo
// files (ql_anchor_run.h has the command line and the report).
#include "ql_anchor_run.h"
#include "ql_jpeg_shrink_pipeline.h"

int main(int argc, char** argv) {
  return RunAnchor(argc, argv, "jpeg_shrink_pipeline", false, ShrinkPipelineThumbnail);
}
