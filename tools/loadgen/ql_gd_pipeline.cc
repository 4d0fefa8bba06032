#include "ql_gd_pipeline.h"

#include <gd.h>
#include <stdio.h>

#include <algorithm>
#include <memory>

#include "base/ql_c_resource.h"

namespace {

struct ImageDeleter {
  void operator()(gdImagePtr image) const {
    if (image) gdImageDestroy(image);
  }
};
struct GdFreer {
  void operator()(void* bytes) const {
    if (bytes) gdFree(bytes);
  }
};
typedef std::unique_ptr<gdImageStruct, ImageDeleter> ScopedImage;

}  // namespace

bool PipelineGeometry(int source_width, int source_height, QLPipelineRequest const& request,
                      QLPipelineGeometry* geometry) {
  if (source_width <= 0 || source_height <= 0 || request.width <= 0 || request.height <= 0) {
    return false;
  }
  QLPipelineGeometry g;
  g.source_width = source_width;
  g.source_height = source_height;
  if (request.full_screen) {
    // Longer side of the picture onto the longer requested side.
    double const scale = static_cast<double>(std::max(request.width, request.height)) /
                         std::max(source_width, source_height);
    g.width = std::max(1, static_cast<int>(scale * source_width));
    g.height = std::max(1, static_cast<int>(scale * source_height));
  } else {
    // The centred part of the picture with the box's shape.
    g.width = request.width;
    g.height = request.height;
    double const box = static_cast<double>(request.width) / request.height;
    if (static_cast<double>(source_width) / source_height > box) {
      g.source_width = std::max(1, static_cast<int>(source_height * box));
      g.source_x = (source_width - g.source_width) / 2;
    } else {
      g.source_height = std::max(1, static_cast<int>(source_width / box));
      g.source_y = (source_height - g.source_height) / 2;
    }
  }
  *geometry = g;
  return true;
}

std::vector<unsigned char> PipelineThumbnail(std::string const& path,
                                             QLPipelineRequest const& request) {
  QLUniqueFile file(fopen(path.c_str(), "rb"));
  if (!file) return std::vector<unsigned char>();
  ScopedImage photo(gdImageCreateFromJpeg(file.get()));
  file.reset();
  return photo ? PipelineScaleAndEncode(photo.get(), request) : std::vector<unsigned char>();
}

std::vector<unsigned char> PipelineScaleAndEncode(gdImagePtr photo,
                                                  QLPipelineRequest const& request) {
  std::vector<unsigned char> png;
  QLPipelineGeometry g;
  if (!PipelineGeometry(gdImageSX(photo), gdImageSY(photo), request, &g)) return png;
  ScopedImage thumbnail(gdImageCreateTrueColor(g.width, g.height));
  if (!thumbnail) return png;
  gdImageCopyResized(thumbnail.get(), photo, 0, 0, g.source_x, g.source_y, g.width, g.height,
                     g.source_width, g.source_height);
  int size = 0;
  std::unique_ptr<void, GdFreer> bytes(gdImagePngPtrEx(thumbnail.get(), &size, request.png_level));
  if (!bytes || size <= 0) return png;
  unsigned char const* begin = static_cast<unsigned char const*>(bytes.get());
  png.assign(begin, begin + size);
  return png;
}
