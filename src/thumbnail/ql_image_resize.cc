// QLThumbnailProvider::ResizeImage: scale, turn upright, encode as PNG.
#include <gd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "log/ql_log.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_png_encoder.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

// float -> int truncating toward zero, saturating where the value does not
// fit (a plain cast would be undefined there). Sizes that large can never
// become a canvas, so saturation only decides which failure is reported.
int TruncateToInt(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0f) return INT_MAX;
  if (value <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(value);
}

// width x height x 4 in decimal, exact for every pair of ints: the product of
// a canvas that is too big to create is exactly the one that overflows
// 32 (and, at the extremes, 64) bits.
std::string CanvasByteCount(int width, int height) {
  __int128 value = static_cast<__int128>(width) * height * 4;
  bool const negative = value < 0;
  std::string digits;
  do {
    int const digit = static_cast<int>(value % 10);
    digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -digit : digit)));
    value /= 10;
  } while (value != 0);
  return negative ? "-" + digits : digits;
}

// A true-colour canvas with libgd's defaults (black, no alpha saving), or
// null after logging how much memory it would have needed.
ScopedGdImage CreateCanvas(int width, int height) {
  ScopedGdImage canvas(gdImageCreateTrueColor(width, height));
  if (!canvas) {
    QL_ERROR("Unable to allocate image buffer for thumbnail. "
             << "Required about " << CanvasByteCount(width, height) << " bytes"
             << " Out of memory?");
  }
  return canvas;
}

}  // namespace

bool QLThumbnailProvider::ResizeImage(boost::shared_ptr<gdImageStruct> image, QLThumbnailData& data,
                                      int orientation) {
  if (!image) return false;
  QLTimer timer;
  // The request's unsigned sizes are used as signed 32-bit numbers: a size
  // above INT_MAX turns negative and the canvas creation refuses it.
  int const w = static_cast<int>(data.width);
  int const h = static_cast<int>(data.height);
  int const W = gdImageSX(image.get());
  int const H = gdImageSY(image.get());

  QL_INFO("Generating thumbnail for orientation: " << orientation);
  QL_INFO("Thumb is " << data.full_screen);
  QL_INFO("Thumb is " << data.width << "x" << data.height);
  QL_INFO("Image is " << W << "x" << H);

  ScopedGdImage canvas;
  if (data.full_screen) {
    // Fit the whole picture: its longer side becomes the longer requested
    // side. Single precision and truncation keep sizes identical to the
    // thumbnails other parts of the product already hold.
    float const scale = static_cast<float>(std::max(w, h)) / static_cast<float>(std::max(W, H));
    int const new_width = TruncateToInt(scale * static_cast<float>(W));
    int const new_height = TruncateToInt(scale * static_cast<float>(H));
    QL_INFO("Fullscreen image is " << new_width << "x" << new_height);
    canvas = CreateCanvas(new_width, new_height);
    if (!canvas) return false;
    gdImageCopyResized(canvas.get(), image.get(), 0, 0, 0, 0, new_width, new_height, W, H);
  } else {
    // Fill the box exactly: cut the centred part of the picture that has the
    // box's shape, scaled without filtering.
    QL_INFO("Thumbnail image is " << w << "x" << h);
    canvas = CreateCanvas(w, h);
    if (!canvas) return false;
    int source_x = 0;
    int source_y = 0;
    int source_width = W;
    int source_height = H;
    if (W < H) {
      source_height =
          TruncateToInt(static_cast<float>(h) * (static_cast<float>(W) / static_cast<float>(w)));
      source_y = (H - source_height) / 2;
    } else {
      source_width =
          TruncateToInt(static_cast<float>(w) * (static_cast<float>(H) / static_cast<float>(h)));
      source_x = (W - source_width) / 2;
    }
    gdImageCopyResized(canvas.get(), image.get(), 0, 0, source_x, source_y, w, h, source_width,
                       source_height);
  }

  ScopedGdImage result;
  if (orientation >= 2 && orientation <= 8) {
    gdImagePtr oriented = nullptr;
    bool const turned = OrientImage(canvas.get(), &oriented, orientation);
    result.reset(oriented);
    canvas.reset();
    if (!turned) return false;
  } else {
    result = std::move(canvas);
  }

  // libgd's own settings unless the command line chose a level or filters.
  std::int64_t png_size = 0;
  boost::shared_ptr<void> png = EncodeThumbnailPng(result.get(), options_.png_compression_level,
                                                   options_.png_filters, &png_size);
  result.reset();
  if (!png) {
    QL_ERROR("Unable to convert resized thumbnail to PNG. Out of memory?");
    return false;
  }
  data.thumbnail = png;
  data.thumbnail_size = png_size;
  data.save_to_cache = true;
  QL_DEBUG("ResizeImage - took: " << timer.get_duration());
  return true;
}
