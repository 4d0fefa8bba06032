#include "media/ql_frame_request.h"

#include <algorithm>
#include <cmath>

void ChooseVideoOutputSize(std::uint32_t source_width, std::uint32_t source_height,
                           QLFrameRequest const& request, std::uint32_t* width,
                           std::uint32_t* height) {
  double const box_width = request.box_width;
  double const box_height = request.box_height;
  double scale = std::max(box_width / source_width, box_height / source_height);
  scale = std::min(scale, 1.0);
  double const pixels = scale * scale * source_width * source_height;
  if (request.max_output_pixels > 0 && pixels > static_cast<double>(request.max_output_pixels)) {
    scale *= std::sqrt(static_cast<double>(request.max_output_pixels) / pixels);
  }
  *width =
      std::clamp<std::uint32_t>(static_cast<std::uint32_t>(source_width * scale), 1, source_width);
  *height = std::clamp<std::uint32_t>(static_cast<std::uint32_t>(source_height * scale), 1,
                                      source_height);
  // Rounding up keeps the box covered; the pixel cap keeps the floor.
  if (*width < source_width && static_cast<std::uint64_t>(*width + 1) * *height <=
                                   std::max<std::uint64_t>(request.max_output_pixels, 1)) {
    ++*width;
  }
  if (*height < source_height && static_cast<std::uint64_t>(*height + 1) * *width <=
                                     std::max<std::uint64_t>(request.max_output_pixels, 1)) {
    ++*height;
  }
}
