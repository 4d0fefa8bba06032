// Pictures: the EXIF orientation read and applied pixel by pixel, the resize
// step's canvas limit, the JPEG reduction chosen and the PNG writer's filters.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <set>
#include <string>

#include "thumbnail/decode/ql_exif_orientation.h"
#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_png_encoder.h"
#include "thumbnail_fixture.h"

namespace {

using qltest::ByteOrder;
using qltest::Bytes;
using qltest::Format;

boost::shared_ptr<gdImageStruct> Shared(qltest::Picture picture) {
  return boost::shared_ptr<gdImageStruct>(picture.release(), gdImgDestroyDeleter());
}

TEST(ExifOrientationTest, ReadsEveryValueInBothByteOrders) {
  QLTempDir temp;
  Bytes const jpeg = qltest::Solid(Format::kJpeg, 16, 8, {20, 20, 220});
  for (ByteOrder order : {ByteOrder::kMotorola, ByteOrder::kIntel}) {
    for (std::uint16_t value = 1; value <= 8; ++value) {
      Bytes const exif = qltest::ExifSegment(order, {qltest::OrientationEntry(value)});
      ASSERT_TRUE(qltest::WriteBytes(temp.File("p.jpg"), qltest::InsertSegment(jpeg, exif)));
      EXPECT_EQ(value, ReadExifOrientation(temp.File("p.jpg"))) << value;
    }
  }
}

// 4 x 3 and 120 x 90 have whole-number diagonals, where a floating-point
// rotating copy shifts the picture by a pixel; the others do not.
TEST(OrientImageTest, EveryOrientationMovesEveryPixelWhereExifSays) {
  int const sizes[][2] = {{4, 3}, {120, 90}, {5, 3}, {7, 7}, {1, 1}, {33, 17}, {2, 9}};
  for (auto const& size : sizes) {
    qltest::Picture source = qltest::CoordinatePicture(size[0], size[1]);
    for (int orientation = 2; orientation <= 8; ++orientation) {
      gdImagePtr result = nullptr;
      ASSERT_TRUE(OrientImage(source.get(), &result, orientation));
      qltest::Picture owner(result);
      qltest::ExpectOriented(result, orientation, size[0], size[1]);
    }
    qltest::ExpectOriented(source.get(), 1, size[0], size[1]);  // source untouched
  }
}

class ImageTest : public qltest::ServiceTest {
 protected:
  bool Resize(qltest::Picture picture, unsigned w, unsigned h, bool full_screen,
              int orientation = 1) {
    data_.width = w;
    data_.height = h;
    data_.full_screen = full_screen;
    return provider_.ResizeImage(Shared(std::move(picture)), data_, orientation);
  }
  qltest::Picture Thumbnail() { return qltest::DecodePng(qltest::ThumbnailBytes(data_)); }
};

TEST_F(ImageTest, CanvasOverTheLimitIsRefusedBeforeAllocating) {
  QLThumbnailOptions options;
  options.max_thumbnail_pixels = 300 * 225;
  provider_.SetOptions(options);
  EXPECT_FALSE(Resize(qltest::CoordinatePicture(100, 100), 300, 300, true));
  EXPECT_TRUE(Logged("needs a canvas of up to 90000 pixels, more than the 67500 allowed"));
  options.max_thumbnail_pixels = 300 * 300;
  provider_.SetOptions(options);
  EXPECT_TRUE(Resize(qltest::CoordinatePicture(100, 100), 300, 300, true));
  // Full screen counts the longer side squared, whichever side it is and
  // however thin this picture's canvas would be.
  EXPECT_FALSE(Resize(qltest::CoordinatePicture(400, 4), 100, 400, true));
  EXPECT_TRUE(Logged("needs a canvas of up to 160000 pixels, more than the 90000 allowed"));
  // Without a width there is no canvas at all, not one over the limit.
  EXPECT_FALSE(Resize(qltest::CoordinatePicture(100, 100), 0, 90001, false));
  EXPECT_FALSE(Logged("up to 90001 pixels"));
}

// libjpeg reduces by 8, 4 or 2 while the reduced picture still covers the canvas.
TEST(JpegScaleTest, ReducesAsFarAsTheCanvasAllows) {
  EXPECT_EQ(8, ChooseJpegScaleDenominator({1, 1, 0, 0, 8, 8}));
  EXPECT_EQ(4, ChooseJpegScaleDenominator({160, 120, 0, 0, 1279, 960}));
  EXPECT_EQ(1, ChooseJpegScaleDenominator({160, 120, 0, 0, 319, 960}));
  EXPECT_EQ(1, ChooseJpegScaleDenominator({0, 120, 0, 0, 1280, 960}));
}

// The own libpng writer (any filter mask) decodes to exactly the canvas's
// pixels and uses only the filters chosen; without a valid mask libgd's
// writer is used. Either way the level counts.
TEST(PngEncoderTest, ChosenFiltersAreTheOnlyOnesUsedAndPixelsSurvive) {
  int const W = 97, H = 61;
  qltest::Picture canvas(gdImageCreateTrueColor(W, H));
  std::uint32_t seed = 99;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      seed = seed * 1103515245u + 12345u;
      int const noise = y > H / 2 ? static_cast<int>(seed >> 28) : 0;
      canvas->tpixels[y][x] =
          gdTrueColor((x * 255 / W + noise) & 0xff, y * 255 / H, ((x + y) * 3 + noise) & 0xff);
    }
  }
  struct {
    int mask;
    std::set<int> allowed;
  } const cases[] = {
      {PNG_FILTER_NONE, {PNG_FILTER_VALUE_NONE}},
      {PNG_FILTER_SUB, {PNG_FILTER_VALUE_SUB}},
      {PNG_FILTER_UP, {PNG_FILTER_VALUE_UP}},
      {PNG_FILTER_AVG, {PNG_FILTER_VALUE_AVG}},
      {PNG_FILTER_PAETH | PNG_FILTER_UP, {PNG_FILTER_VALUE_PAETH, PNG_FILTER_VALUE_UP}},
      {PNG_ALL_FILTERS, {0, 1, 2, 3, 4}},
      {-1, {0, 1, 2, 3, 4}},                    // libgd's writer
      {PNG_FILTER_VALUE_SUB, {0, 1, 2, 3, 4}},  // a filter number, not a mask: libgd's writer
  };
  for (auto const& c : cases) {
    std::int64_t stored = 0;  // the size at level 0
    for (int level : {-1, 0, 9}) {
      SCOPED_TRACE(testing::Message() << "filters " << c.mask << " level " << level);
      std::int64_t size = -1;
      boost::shared_ptr<void> png = EncodeThumbnailPng(canvas.get(), level, c.mask, &size);
      ASSERT_TRUE(png);
      unsigned char const* bytes = static_cast<unsigned char const*>(png.get());
      Bytes const file(bytes, bytes + size);
      qltest::Picture decoded = qltest::DecodePng(file);
      ASSERT_TRUE(decoded);
      int differ = 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          differ += gdImageGetTrueColorPixel(decoded.get(), x, y) != canvas->tpixels[y][x];
      EXPECT_EQ(0, differ);
      // The filter type byte in front of each row of the inflated IDAT data.
      Bytes idat;
      for (std::size_t at = 8; at + 12 <= file.size();) {
        std::size_t const length =
            (file[at] << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
        if (std::string(file.begin() + at + 4, file.begin() + at + 8) == "IDAT")
          idat.insert(idat.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
        at += 12 + length;
      }
      std::size_t const stride = 1 + 3 * W;
      Bytes raw(stride * H + 1);
      uLongf raw_size = raw.size();
      ASSERT_EQ(Z_OK, uncompress(raw.data(), &raw_size, idat.data(), idat.size()));
      ASSERT_EQ(stride * H, raw_size);
      std::set<int> used;
      for (int row = 0; row < H; ++row) used.insert(raw[row * stride]);
      for (int filter : used) EXPECT_EQ(1u, c.allowed.count(filter)) << filter;
      if (c.allowed.size() == 5 && level == 0) {
        EXPECT_GT(used.size(), 1u) << "not met by accident";
      }
      if (level == 0) stored = size;
      if (level == 9) {
        EXPECT_LT(size, stored) << "the level was not applied";
      }
    }
  }
  for (int const side : {1, 2}) {  // a one-pixel line is still a picture
    qltest::Picture line(gdImageCreateTrueColor(side, 3 - side));
    std::int64_t size = 0;
    EXPECT_TRUE(EncodeThumbnailPng(line.get(), -1, PNG_FILTER_SUB, &size)) << side;
  }
}

}  // namespace
