// The command line, timing loop and report shared by the in-process anchor
// programs (bare libgd, libjpeg shrink, libvips): one process decodes every
// photo once untimed, so libraries, caches and the allocator are warm as in
// a long-running daemon, then times `--rounds` rounds over all photos and
// prints each photo's median wall and CPU time (CPU of the whole process,
// every thread included).
//
//   PROGRAM [--width W] [--height H] [--full-screen] [--png-level 0..9]
//           [--png-unfiltered] [--rounds R] [--format text|kv] [--label NAME] PHOTO...
//
// Called once from main on the main thread; `thumbnail` is called on that
// thread only and owns nothing between calls.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_ANCHOR_RUN_H_
#define QUORLIN_TOOLS_LOADGEN_QL_ANCHOR_RUN_H_

#include <functional>
#include <string>
#include <vector>

#include "ql_gd_pipeline.h"

// PNG bytes of the thumbnail of the photo at the path; empty on failure.
typedef std::function<std::vector<unsigned char>(std::string const&, QLPipelineRequest const&)>
    QLAnchorThumbnail;

// Returns main's exit status: 0, 1 when a timed thumbnail failed, 2 for a
// bad command line (also --png-unfiltered for an anchor whose encoder has
// no filter setting, `unfiltered_png` false).
int RunAnchor(int argc, char** argv, std::string const& default_label, bool unfiltered_png,
              QLAnchorThumbnail const& thumbnail);

#endif  // QUORLIN_TOOLS_LOADGEN_QL_ANCHOR_RUN_H_
