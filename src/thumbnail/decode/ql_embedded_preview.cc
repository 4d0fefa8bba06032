#include "thumbnail/decode/ql_embedded_preview.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "log/ql_log.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail/ql_thumbnail_geometry.h"

bool PreviewServesThumbnail(int preview_width, int preview_height, int photo_width,
                            int photo_height, int width, int height, bool full_screen) {
  if (preview_width <= 0 || preview_height <= 0 || photo_width <= 0 || photo_height <= 0 ||
      preview_width > photo_width || preview_height > photo_height) {
    return false;
  }
  // Same shape within one preview pixel each way: |pw - ph * W / H| <= 1
  // and |ph - pw * H / W| <= 1, that is |pw * H - ph * W| <= min(W, H).
  std::int64_t const skew = std::llabs(std::int64_t{preview_width} * photo_height -
                                       std::int64_t{preview_height} * photo_width);
  if (skew > std::min(photo_width, photo_height)) return false;
  QLThumbnailGeometry const geometry =
      ComputeThumbnailGeometry(photo_width, photo_height, width, height, full_screen);
  if (geometry.canvas_width <= 0 || geometry.canvas_height <= 0) return false;
  QLThumbnailGeometry const sampled =
      MapToReducedPicture(geometry, photo_width, photo_height, preview_width, preview_height);
  return sampled.source_width >= geometry.canvas_width &&
         sampled.source_height >= geometry.canvas_height;
}

QLDecodedPicture DecodeEmbeddedPreview(std::string const& preview, int photo_width,
                                       int photo_height, int width, int height, bool full_screen) {
  QLDecodedPicture decoded;
  QLImageHeader header;
  if (preview.empty() || !ProbeImageBytes(preview.data(), preview.size(), kQLImageJpeg, &header) ||
      !PreviewServesThumbnail(static_cast<int>(header.width), static_cast<int>(header.height),
                              photo_width, photo_height, width, height, full_screen)) {
    return decoded;
  }
  if (DecodeJpegScaled(preview.data(), preview.size(), width, height, full_screen, &decoded) !=
          QLJpegDecodeStatus::kDecoded ||
      decoded.original_width != static_cast<int>(header.width) ||
      decoded.original_height != static_cast<int>(header.height)) {
    return QLDecodedPicture();
  }
  QL_DEBUG("Thumbnail made from the " << header.width << "x" << header.height
                                      << " EXIF preview of a " << photo_width << "x" << photo_height
                                      << " photo");
  decoded.original_width = photo_width;
  decoded.original_height = photo_height;
  return decoded;
}
