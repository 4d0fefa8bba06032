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

TEST_F(ResizeImageTest, FullScreenModeFitsTheLongerSide) {
  struct {
    int w, h, W, H, rw, rh;
  } const cases[] = {
      {1920, 1080, 4000, 3000, 1920, 1440},
      {1024, 768, 3000, 4000, 768, 1024},
      {800, 600, 100, 50, 800, 400},
      {1280, 720, 1366, 768, 1280, 719},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " from " << c.W << "x" << c.H);
    qltest::LogCapture log;
    ASSERT_TRUE(Resize(Shared(CoordinatePicture(c.W, c.H)), c.w, c.h, true));
    ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(c.rw, gdImageSX(thumb.get()));
    EXPECT_EQ(c.rh, gdImageSY(thumb.get()));
    EXPECT_TRUE(log.Contains("] Fullscreen image is " + std::to_string(c.rw) + "x" +
                             std::to_string(c.rh) + "\n"));
    ExpectSourceRectangle(c.W, c.H, 0, 0, c.W, c.H);  // the whole picture
  }
}

TEST_F(ResizeImageTest, LogsTheRequestAndPictureInOrder) {
  qltest::LogCapture log;
  ASSERT_TRUE(Resize(Shared(CoordinatePicture(400, 300)), 120, 90, false, 6));
  std::string const text = log.text();
  std::string::size_type at = 0;
  for (char const* line :
       {"INFO: [", "] Generating thumbnail for orientation: 6\n", "INFO: [", "] Thumb is 0\n",
        "INFO: [", "] Thumb is 120x90\n", "INFO: [", "] Image is 400x300\n", "INFO: [",
        "] Thumbnail image is 120x90\n", "DEBUG:[", "] ResizeImage - took: "}) {
    at = text.find(line, at);
    ASSERT_NE(std::string::npos, at) << "missing or out of order: " << line << "\n" << text;
  }
}

TEST_F(ResizeImageTest, RecordHoldsTheWholePngOnSuccess) {
  ASSERT_TRUE(Resize(Shared(CoordinatePicture(40, 30)), 20, 15, false));
  EXPECT_TRUE(data_.save_to_cache);
  ASSERT_GT(data_.thumbnail_size, 12);
  unsigned char const* png = static_cast<unsigned char const*>(data_.thumbnail.get());
  EXPECT_EQ(0, std::memcmp(png, "\x89PNG\r\n\x1a\n", 8));
  // The size must end exactly after the closing IEND chunk.
  EXPECT_EQ(0, std::memcmp(png + data_.thumbnail_size - 12, "\0\0\0\0IEND\xae\x42\x60\x82", 12));
}

TEST_F(ResizeImageTest, PictureIsNotModified) {
  boost::shared_ptr<gdImageStruct> picture = Shared(CoordinatePicture(30, 20));
  ASSERT_TRUE(Resize(picture, 10, 10, false, 7));
  qltest::ExpectOriented(picture.get(), 1, 30, 20);
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

// Canvases that cannot be made: a zero side; 50000 x 50000 x 4, which does
// not fit 32 bits (the canvas limit lifted, so that libgd itself refuses);
// sizes above INT_MAX, negative as signed sizes. The message gives the true
// byte count, and a small canvas limit does not mistake them for small ones.
TEST_F(ResizeImageFailureTest, CanvasThatCannotBeMadeIsReportedWithTheTrueByteCount) {
  std::string const no_canvas = "] Unable to allocate image buffer for thumbnail. Required about ";
  std::uint64_t const kDefault = QLThumbnailOptions::kDefaultMaxThumbnailPixels;
  struct {
    char const* name;
    int W, H;
    unsigned w, h;
    bool full_screen;
    std::uint64_t canvas_limit;
    std::string size_line, bytes_line;  // empty: not checked
  } const cases[] = {
      {"zero width", 40, 30, 0, 90, false, 100, "", no_canvas + "0 bytes Out of memory?\n"},
      {"over 32 bits", 2, 2, 50000, 100, true, UINT64_MAX, "] Fullscreen image is 50000x50000\n",
       no_canvas + "10000000000 bytes Out of memory?\n"},
      {"above INT_MAX", 40, 30, 0x80000000u, 2, false, 100, "] Thumb is 2147483648x2\n",
       no_canvas + "-17179869184 bytes"},
      {"both above INT_MAX", 40, 30, 0xFFFFFFFFu, 0xFFFFFFFFu, true, kDefault, "", ""},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    QLThumbnailOptions options;
    options.max_thumbnail_pixels = c.canvas_limit;
    provider_.SetOptions(options);
    qltest::LogCapture log;
    EXPECT_FALSE(Resize(Shared(CoordinatePicture(c.W, c.H)), c.w, c.h, c.full_screen));
    ExpectUntouched();
    EXPECT_TRUE(log.Contains(c.size_line));
    EXPECT_TRUE(log.Contains(c.bytes_line));
    EXPECT_TRUE(log.Contains("ERROR:"));
    EXPECT_FALSE(log.Contains("needs a canvas"));
    EXPECT_FALSE(log.Contains("ResizeImage - took: "));
  }
}
