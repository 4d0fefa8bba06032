// QLThumbnailProvider::ResizeImage: geometry to the pixel, turning, the PNG
// in the record, the log lines and the failure paths.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "test_support.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::CoordinateOf;
using qltest::CoordinatePicture;

using qltest::Shared;

class ResizeImageTest : public testing::Test {
 protected:
  bool Resize(boost::shared_ptr<gdImageStruct> picture, unsigned w, unsigned h, bool full_screen,
              int orientation = 1) {
    data_.width = w;
    data_.height = h;
    data_.full_screen = full_screen;
    data_.save_to_cache = false;
    return provider_.ResizeImage(picture, data_, orientation);
  }

  // Nearest-neighbour sampling gives destination index d of `dest` one of
  // the source indexes [start + floor(d*size/dest), start +
  // ceil((d+1)*size/dest) - 1]. The decoded coordinate must lie there, or, when
  // that whole range is outside the picture (length `limit`), the pixel must be
  // black.
  static void ExpectSampledFrom(int found, bool inside, int d, int dest, int start, int size,
                                int limit) {
    long long const low = start + (static_cast<long long>(d) * size) / dest;
    long long const high = start + (static_cast<long long>(d + 1) * size + dest - 1) / dest - 1;
    if (high < 0 || low >= limit) {
      EXPECT_FALSE(inside) << "index " << d << " should show black, shows " << found;
    } else {
      ASSERT_TRUE(inside) << "index " << d << " is black";
      EXPECT_LE(low, found) << "index " << d;
      EXPECT_GE(high, found) << "index " << d;
    }
  }

  // Checks first, middle and last column and row of the thumbnail against
  // the source rectangle (sx, sy, sw, sh) of a W x H coordinate picture.
  void ExpectSourceRectangle(int W, int H, int sx, int sy, int sw, int sh) {
    ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    int const w = gdImageSX(thumb.get());
    int const h = gdImageSY(thumb.get());
    for (int col : {0, w / 2, w - 1}) {
      int x = -1, y = -1;
      bool const inside = CoordinateOf(qltest::ColorAt(thumb.get(), col, h / 2), &x, &y);
      ExpectSampledFrom(x, inside, col, w, sx, sw, W);
    }
    for (int row : {0, h / 2, h - 1}) {
      int x = -1, y = -1;
      bool const inside = CoordinateOf(qltest::ColorAt(thumb.get(), w / 2, row), &x, &y);
      ExpectSampledFrom(y, inside, row, h, sy, sh, H);
    }
  }

  QLThumbnailProvider provider_;
  QLThumbnailData data_;
};

}  // namespace

TEST_F(ResizeImageTest, ThumbnailModeCutsTheCentredBoxShape) {
  struct {
    int w, h, W, H, sx, sy, sw, sh;
  } const cases[] = {
      {100, 100, 400, 300, 50, 0, 300, 300},
      {100, 100, 300, 400, 0, 50, 300, 300},
      // 120 * (750 / 90) in single precision is 999.99994: 999 columns, not
      // 1000.
      {120, 90, 1000, 750, 0, 0, 999, 750},
      // Wider than the picture: 25 columns past each side read as black.
      {150, 100, 1000, 700, -25, 0, 1050, 700},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " from " << c.W << "x" << c.H);
    ASSERT_TRUE(Resize(Shared(CoordinatePicture(c.W, c.H)), c.w, c.h, false));
    ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(c.w, gdImageSX(thumb.get()));
    EXPECT_EQ(c.h, gdImageSY(thumb.get()));
    ExpectSourceRectangle(c.W, c.H, c.sx, c.sy, c.sw, c.sh);
  }
}

// With a request of the picture's own size the canvas is the picture, so
// the turned PNG can be checked pixel by pixel; 120 x 90 becomes 90 x 120.
TEST_F(ResizeImageTest, TurnsTheScaledCanvasOrLeavesItForOtherValues) {
  int const W = 120, H = 90;
  for (int orientation : {6, 8, 5, 7, 1, 0, 9, -1}) {
    SCOPED_TRACE(orientation);
    ASSERT_TRUE(Resize(Shared(CoordinatePicture(W, H)), W, H, false, orientation));
    ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    qltest::ExpectOriented(thumb.get(), orientation, W, H);
  }
}

class ResizeImageFailureTest : public ResizeImageTest {
 protected:
  // Marks the three result fields so a failure can be seen not to touch them.
  void SetUp() override {
    sentinel_.reset(new char[4], [](char* p) { delete[] p; });
    data_.thumbnail = sentinel_;
    data_.thumbnail_size = 4;
  }
  void ExpectUntouched() {
    EXPECT_EQ(sentinel_.get(), data_.thumbnail.get());
    EXPECT_EQ(4, data_.thumbnail_size);
    EXPECT_FALSE(data_.save_to_cache);
  }
  boost::shared_ptr<char> sentinel_;
};
