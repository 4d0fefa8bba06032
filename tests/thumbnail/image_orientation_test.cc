// OrientImage and the three picture operations, checked pixel by pixel.
#include <gtest/gtest.h>

#include "test_support.h"
#include "thumbnail/ql_image_orientation.h"

namespace {

using qltest::CoordinateOf;
using qltest::CoordinatePicture;

using qltest::ExpectOriented;

}  // namespace

// 4 x 3 and 120 x 90 have whole-number diagonals, where a floating-point
// rotating copy shifts the picture by a pixel; the others do not.
TEST(OrientImageTest, EveryOrientationMovesEveryPixelWhereExifSays) {
  int const sizes[][2] = {{4, 3}, {120, 90}, {5, 3}, {7, 7}, {1, 1}, {33, 17}, {2, 9}};
  for (auto const& size : sizes) {
    ScopedGdImage source = CoordinatePicture(size[0], size[1]);
    for (int orientation = 2; orientation <= 8; ++orientation) {
      SCOPED_TRACE(testing::Message()
                   << size[0] << "x" << size[1] << " orientation " << orientation);
      gdImagePtr result = nullptr;
      ASSERT_TRUE(OrientImage(source.get(), &result, orientation));
      ScopedGdImage owner(result);
      ExpectOriented(result, orientation, size[0], size[1]);
    }
    ExpectOriented(source.get(), 1, size[0], size[1]);  // source untouched
  }
}

// A picture libgd cannot make a copy of (width 0) stands in for memory
// running out: every orientation must report it and leave nothing behind.
TEST(OrientImageTest, PictureThatCannotBeCreatedIsReported) {
  gdImage empty = gdImage();
  empty.sx = 0;
  empty.sy = 3;
  empty.trueColor = 1;
  for (int orientation = 2; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    qltest::LogCapture log;
    gdImagePtr result = nullptr;
    EXPECT_FALSE(OrientImage(&empty, &result, orientation));
    EXPECT_EQ(nullptr, result);
    EXPECT_TRUE(log.Contains("ERROR:"));
    EXPECT_TRUE(log.Contains("] Unable to change the image!Out of memory?\n"));
  }
}
