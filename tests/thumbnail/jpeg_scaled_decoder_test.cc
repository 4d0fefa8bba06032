// Shrink-on-load JPEG decoding: the reduction chosen, the geometry mapped
// onto the reduced picture, the same thumbnail size and orientation as a
// full decode with a picture close to it, and libjpeg errors that come back
// as failed decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>

#include "test_support.h"
#include "thumbnail/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_thumbnail_geometry.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::Bytes;
using qltest::Format;

// A photo-like picture: smooth colour waves of 300 to 500 pixels with a
// little noise, different along x and y so that a wrong turn or mirror shows.
// Steepest slope: 100 * 2 * pi / 300, about 2.1 levels per pixel.
ScopedGdImage PhotoLike(int width, int height) {
  ScopedGdImage image(gdImageCreateTrueColor(width, height));
  double const pi = 3.14159265358979;
  std::uint32_t seed = 7;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int const noise = static_cast<int>(seed >> 29) - 4;  // -4..3
      int const r = 128 + static_cast<int>(100 * std::sin(2 * pi * x / 400)) + noise;
      int const g = 128 + static_cast<int>(100 * std::sin(2 * pi * y / 300)) + noise;
      int const b = 128 + static_cast<int>(60 * std::cos(2 * pi * (x + 2 * y) / 500)) + noise;
      image->tpixels[y][x] = gdTrueColor(r, g, b);
    }
  }
  return image;
}

class JpegScaledDecoderTest : public qltest::ProviderTest {
 protected:
  void SetUp() override { qltest::WriteDefaultPictures(folder_.path()); }

  // The thumbnail of `path` with shrink-on-load off or on.
  ScopedGdImage Thumbnail(std::string const& path, unsigned w, unsigned h, bool full_screen,
                          bool shrink) {
    QLThumbnailOptions options;
    options.jpeg_shrink_on_load = shrink;
    provider_.SetOptions(options);
    data_.path = path;
    data_.width = w;
    data_.height = h;
    data_.full_screen = full_screen;
    data_.save_to_cache = false;
    if (!provider_.HandleImgJpg(data_)) return ScopedGdImage();
    return qltest::DecodeThumbnail(data_);
  }
};

TEST_F(JpegScaledDecoderTest, DecodesAtTheChosenReductionWithLibjpegSizes) {
  ScopedGdImage picture = PhotoLike(1601, 1201);
  Bytes const jpeg = qltest::Encode(picture.get(), Format::kJpeg);
  struct {
    int w, h, denominator;
  } const cases[] = {{160, 120, 8}, {320, 240, 4}, {640, 480, 2}, {1000, 750, 1}};
  for (auto const& c : cases) {
    QLDecodedPicture decoded;
    ASSERT_EQ(QLJpegDecodeStatus::kDecoded,
              DecodeJpegScaled(jpeg.data(), jpeg.size(), c.w, c.h, false, &decoded));
    EXPECT_EQ(c.denominator, decoded.denominator);
    EXPECT_EQ(1601, decoded.original_width);
    EXPECT_EQ(1201, decoded.original_height);
    // libjpeg rounds the reduced size up.
    EXPECT_EQ((1601 + c.denominator - 1) / c.denominator, gdImageSX(decoded.picture.get()));
    EXPECT_EQ((1201 + c.denominator - 1) / c.denominator, gdImageSY(decoded.picture.get()));
  }
}

}  // namespace
