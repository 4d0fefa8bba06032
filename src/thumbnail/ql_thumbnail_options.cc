#include "thumbnail/ql_thumbnail_options.h"

namespace {
QLThumbnailOptions g_process_options;
}  // namespace

void SetProcessThumbnailOptions(QLThumbnailOptions const& options) { g_process_options = options; }

QLThumbnailOptions const& ProcessThumbnailOptions() { return g_process_options; }
