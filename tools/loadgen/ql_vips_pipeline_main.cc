// ql_vips_pipeline: libvips through its C API, warm, over photo files: the
// anchor a daemon built on libvips would be. vips_thumbnail (its own
// shrink-on-load; a 160x120 box is filled from the centre, full screen fits
// the longer side to the longer requested side) and vips_pngsave_buffer,
// with compression 6 and adaptive row filters as libgd's PNG writer uses,
// or the --png-level and, with --png-unfiltered, no row filter. The
// operation cache is off, so every photo is opened and decoded again.
// ql_anchor_run.h has the command line and the report.
#include <vips/vips.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "ql_anchor_run.h"

namespace {

struct ImageUnref {
  void operator()(VipsImage* image) const { g_object_unref(image); }
};
struct GFree {
  void operator()(void* bytes) const { g_free(bytes); }
};

std::vector<unsigned char> VipsThumbnail(std::string const& path,
                                         QLPipelineRequest const& request) {
  std::vector<unsigned char> png;
  VipsImage* raw = nullptr;
  int const side = std::max(request.width, request.height);
  int const failed = request.full_screen
                         ? vips_thumbnail(path.c_str(), &raw, side, "height", side, nullptr)
                         : vips_thumbnail(path.c_str(), &raw, request.width, "height",
                                          request.height, "crop", VIPS_INTERESTING_CENTRE, nullptr);
  std::unique_ptr<VipsImage, ImageUnref> thumbnail(raw);
  if (failed) return png;
  void* raw_bytes = nullptr;
  size_t size = 0;
  if (vips_pngsave_buffer(
          thumbnail.get(), &raw_bytes, &size, "compression",
          request.png_level < 0 ? 6 : request.png_level, "filter",
          request.png_unfiltered ? VIPS_FOREIGN_PNG_FILTER_NONE : VIPS_FOREIGN_PNG_FILTER_ALL,
          nullptr) != 0) {
    return png;
  }
  std::unique_ptr<void, GFree> bytes(raw_bytes);
  unsigned char const* begin = static_cast<unsigned char const*>(raw_bytes);
  png.assign(begin, begin + size);
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  if (VIPS_INIT(argv[0]) != 0) {
    std::cerr << argv[0] << ": libvips does not start: " << vips_error_buffer() << "\n";
    return 1;
  }
  vips_cache_set_max(0);
  int const status = RunAnchor(argc, argv, "vips_pipeline", true, VipsThumbnail);
  vips_shutdown();
  return status;
}
