// ResizeImage: scale, turn upright, encode as PNG.
#include "thumbnail/ql_image_resize.h"

#include <gd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "log/ql_log.h"
#include "thumbnail/color/ql_color_transform.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_thumbnail_encoder.h"
#include "thumbnail/ql_thumbnail_geometry.h"

namespace {

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

// Refuses (with an ERROR line) a request whose canvas could exceed the limit.
// The bound is the largest canvas the request can give with any picture, not
// just this picture's: the fallback default pictures of a refused request
// are then refused alike, and the request ends in the failure reply instead
// of a default picture of a differently shaped canvas that happened to fit.
bool CanvasOverLimit(QLThumbnailData const& data, QLThumbnailGeometry const& geometry,
                     std::uint64_t limit) {
  std::uint64_t pixels = LargestCanvasPixels(static_cast<int>(data.width),
                                             static_cast<int>(data.height), data.full_screen);
  if (geometry.canvas_width > 0 && geometry.canvas_height > 0) {
    pixels = std::max(pixels, static_cast<std::uint64_t>(geometry.canvas_width) *
                                  static_cast<std::uint64_t>(geometry.canvas_height));
  }
  if (pixels <= limit) return false;
  QL_ERROR("Thumbnail of " << data.width << "x" << data.height
                           << (data.full_screen ? " (full screen)" : "") << " for \"" << data.path
                           << "\" needs a canvas of up to " << pixels << " pixels, more than the "
                           << limit << " allowed.");
  return true;
}

}  // namespace

bool ResizeImage(QLThumbnailOptions const& options, boost::shared_ptr<gdImageStruct> image,
                 QLThumbnailData& data, int orientation) {
  if (!image) return false;
  return ResizeImage(options, image, data, orientation, gdImageSX(image.get()),
                     gdImageSY(image.get()));
}

bool ResizeImage(QLThumbnailOptions const& options, boost::shared_ptr<gdImageStruct> image,
                 QLThumbnailData& data, int orientation, int original_width, int original_height,
                 QLColorTransform const* color) {
  if (!image) return false;
  QLTimer timer;
  // The request's unsigned sizes are used as signed 32-bit numbers: a size
  // above INT_MAX turns negative and the canvas creation refuses it.
  int const w = static_cast<int>(data.width);
  int const h = static_cast<int>(data.height);
  // The geometry is that of the picture as stored; a picture decoded at a
  // reduced size is sampled at the mapped rectangle.
  int const W = original_width;
  int const H = original_height;

  QL_INFO("Generating thumbnail for orientation: " << orientation);
  QL_INFO("Thumb is " << data.full_screen);
  QL_INFO("Thumb is " << data.width << "x" << data.height);
  QL_INFO("Image is " << W << "x" << H);

  // Full screen fits the whole picture: its longer side becomes the longer
  // requested side. Otherwise the box is filled exactly with the centred
  // part of the picture that has the box's shape. Either way the scaling is
  // nearest-neighbour, without filtering.
  QLThumbnailGeometry const geometry = ComputeThumbnailGeometry(W, H, w, h, data.full_screen);
  if (data.full_screen) {
    QL_INFO("Fullscreen image is " << geometry.canvas_width << "x" << geometry.canvas_height);
  } else {
    QL_INFO("Thumbnail image is " << w << "x" << h);
  }
  if (CanvasOverLimit(data, geometry, options.max_thumbnail_pixels)) return false;
  ScopedGdImage canvas = CreateCanvas(geometry.canvas_width, geometry.canvas_height);
  if (!canvas) return false;
  QLThumbnailGeometry const source =
      MapToReducedPicture(geometry, W, H, gdImageSX(image.get()), gdImageSY(image.get()));
  gdImageCopyResized(canvas.get(), image.get(), 0, 0, source.source_x, source.source_y,
                     geometry.canvas_width, geometry.canvas_height, source.source_width,
                     source.source_height);

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

  if (color) color->ConvertCanvas(result.get());

  // PNG with libgd's own settings unless the command line chose a format,
  // a level or filters.
  std::int64_t encoded_size = 0;
  boost::shared_ptr<void> encoded = EncodeThumbnail(result.get(), options, &encoded_size);
  result.reset();
  if (!encoded) {
    if (options.thumbnail_format == QLThumbnailFormat::kPng) {
      QL_ERROR("Unable to convert resized thumbnail to PNG. Out of memory?");
    } else {
      QL_ERROR("Unable to encode resized thumbnail as "
               << ThumbnailFormatName(options.thumbnail_format) << ". Out of memory?");
    }
    return false;
  }
  data.thumbnail = encoded;
  data.thumbnail_size = encoded_size;
  data.save_to_cache = true;
  QL_DEBUG("ResizeImage - took: " << timer.get_duration());
  return true;
}
