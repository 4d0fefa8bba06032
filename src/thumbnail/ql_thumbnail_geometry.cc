#include "thumbnail/ql_thumbnail_geometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// floor(value * to / from) for from > 0, exact in 128 bits.
int ScaleFloor(int value, int to, int from) {
  __int128 const product = static_cast<__int128>(value) * to;
  __int128 quotient = product / from;
  if (product % from != 0 && product < 0) --quotient;
  if (quotient > INT_MAX) return INT_MAX;
  if (quotient < INT_MIN) return INT_MIN;
  return static_cast<int>(quotient);
}

}  // namespace

int TruncateToInt(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0f) return INT_MAX;
  if (value <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(value);
}

QLThumbnailGeometry ComputeThumbnailGeometry(int W, int H, int w, int h, bool full_screen) {
  QLThumbnailGeometry g;
  g.source_width = W;
  g.source_height = H;
  if (full_screen) {
    float const scale = static_cast<float>(std::max(w, h)) / static_cast<float>(std::max(W, H));
    g.canvas_width = TruncateToInt(scale * static_cast<float>(W));
    g.canvas_height = TruncateToInt(scale * static_cast<float>(H));
    return g;
  }
  g.canvas_width = w;
  g.canvas_height = h;
  if (W < H) {
    g.source_height =
        TruncateToInt(static_cast<float>(h) * (static_cast<float>(W) / static_cast<float>(w)));
    // 64-bit: a saturated height must not overflow the subtraction.
    g.source_y = static_cast<int>((static_cast<std::int64_t>(H) - g.source_height) / 2);
  } else {
    g.source_width =
        TruncateToInt(static_cast<float>(w) * (static_cast<float>(H) / static_cast<float>(h)));
    g.source_x = static_cast<int>((static_cast<std::int64_t>(W) - g.source_width) / 2);
  }
  return g;
}

std::uint64_t LargestCanvasPixels(int width, int height, bool full_screen) {
  std::uint64_t const w = width > 0 ? static_cast<std::uint64_t>(width) : 0;
  std::uint64_t const h = height > 0 ? static_cast<std::uint64_t>(height) : 0;
  if (!full_screen) return w * h;
  std::uint64_t const side = std::max(w, h);
  return side * side;
}

QLThumbnailGeometry MapToReducedPicture(QLThumbnailGeometry const& g, int original_width,
                                        int original_height, int reduced_width,
                                        int reduced_height) {
  QLThumbnailGeometry mapped = g;
  if (original_width <= 0 || original_height <= 0) return mapped;
  int const left = ScaleFloor(g.source_x, reduced_width, original_width);
  int const right = ScaleFloor(
      static_cast<int>(std::min<std::int64_t>(INT_MAX, std::int64_t{g.source_x} + g.source_width)),
      reduced_width, original_width);
  int const top = ScaleFloor(g.source_y, reduced_height, original_height);
  int const bottom = ScaleFloor(
      static_cast<int>(std::min<std::int64_t>(INT_MAX, std::int64_t{g.source_y} + g.source_height)),
      reduced_height, original_height);
  mapped.source_x = left;
  mapped.source_y = top;
  mapped.source_width =
      static_cast<int>(std::min<std::int64_t>(INT_MAX, std::int64_t{right} - left));
  mapped.source_height =
      static_cast<int>(std::min<std::int64_t>(INT_MAX, std::int64_t{bottom} - top));
  return mapped;
}
