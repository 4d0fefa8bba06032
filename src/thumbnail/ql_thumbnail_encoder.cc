#include "thumbnail/ql_thumbnail_encoder.h"

#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_png_encoder.h"

int DefaultThumbnailQuality(QLThumbnailFormat format) {
  // 85 and 80 are where both encoders' files stop shrinking much while
  // edges and gradients of a photo still look clean at thumbnail size.
  return format == QLThumbnailFormat::kWebp ? 80 : 85;
}

boost::shared_ptr<void> EncodeThumbnail(gdImagePtr image, QLThumbnailOptions const& options,
                                        std::int64_t* size) {
  if (options.thumbnail_format == QLThumbnailFormat::kPng) {
    return EncodeThumbnailPng(image, options.png_compression_level, options.png_filters, size);
  }
  int const quality = options.thumbnail_quality > 0
                          ? options.thumbnail_quality
                          : DefaultThumbnailQuality(options.thumbnail_format);
  int bytes = 0;
  void* encoded = options.thumbnail_format == QLThumbnailFormat::kJpeg
                      ? gdImageJpegPtr(image, &bytes, quality)
                      : gdImageWebpPtrEx(image, &bytes, quality);
  boost::shared_ptr<void> result(encoded, gdDeleter());
  if (!result || bytes <= 0) return boost::shared_ptr<void>();
  *size = bytes;
  return result;
}
