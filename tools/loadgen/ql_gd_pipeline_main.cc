// ql_gd_pipeline: the bare libgd pipeline, warm, over photo files
// (ql_anchor_run.h has the command line and the report).
#include "ql_anchor_run.h"
#include "ql_gd_pipeline.h"

int main(int argc, char** argv) {
  return RunAnchor(argc, argv, "gd_pipeline", false, PipelineThumbnail);
}
