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

// The single operations are the orientations 2, 4 and 6.
TEST(OrientImageTest, SingleOperationsMatchTheirOrientations) {
  ScopedGdImage source = CoordinatePicture(12, 5);
  bool (*const operations[])(gdImageStruct*, gdImageStruct**) = {
      FlipImageHorizontal, FlipImageVertical, RotateImageRight90};
  int const orientations[] = {2, 4, 6};
  for (int i = 0; i < 3; ++i) {
    gdImagePtr result = nullptr;
    ASSERT_TRUE(operations[i](source.get(), &result));
    ScopedGdImage owner(result);
    ExpectOriented(result, orientations[i], 12, 5);
  }
}

TEST(OrientImageTest, OrientationsOutsideTwoToEightAreRefusedWithLog) {
  ScopedGdImage source = CoordinatePicture(4, 3);
  for (int orientation : {1, 0, 9, -1, -32768}) {
    qltest::LogCapture log;
    gdImagePtr result = source.get();  // must stay as it was
    EXPECT_FALSE(OrientImage(source.get(), &result, orientation));
    EXPECT_EQ(source.get(), result);
    EXPECT_TRUE(log.Contains("ERROR:"));
    EXPECT_TRUE(log.Contains("] Unable to orient! Unknown orientation!\n"));
  }
}

TEST(OrientImageTest, NullArgumentsFailSilently) {
  ScopedGdImage source = CoordinatePicture(4, 3);
  gdImagePtr result = nullptr;
  qltest::LogCapture log;
  EXPECT_FALSE(OrientImage(nullptr, &result, 6));
  EXPECT_FALSE(OrientImage(source.get(), nullptr, 6));
  EXPECT_FALSE(RotateImageRight90(nullptr, &result));
  EXPECT_FALSE(FlipImageVertical(source.get(), nullptr));
  EXPECT_FALSE(FlipImageHorizontal(nullptr, &result));
  EXPECT_EQ(nullptr, result);
  EXPECT_EQ("", log.text());
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
