#include "ql_gd_pipeline.h"

#include <gd.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/ql_temp_dir.h"

namespace {

struct ImageDeleter {
  void operator()(gdImagePtr image) const {
    if (image) gdImageDestroy(image);
  }
};
typedef std::unique_ptr<gdImageStruct, ImageDeleter> Image;

// A JPEG file with three vertical bands: red, green, blue.
std::string WriteBands(QLTempDir const& folder, int width, int height) {
  Image image(gdImageCreateTrueColor(width, height));
  int const third = width / 3;
  gdImageFilledRectangle(image.get(), 0, 0, third - 1, height - 1, gdTrueColor(255, 0, 0));
  gdImageFilledRectangle(image.get(), third, 0, 2 * third - 1, height - 1, gdTrueColor(0, 255, 0));
  gdImageFilledRectangle(image.get(), 2 * third, 0, width - 1, height - 1, gdTrueColor(0, 0, 255));
  int size = 0;
  void* jpeg = gdImageJpegPtr(image.get(), &size, 95);
  std::string const path = folder.File("bands.jpg");
  std::ofstream(path.c_str(), std::ios::binary).write(static_cast<char*>(jpeg), size);
  gdFree(jpeg);
  return path;
}

TEST(GdPipelineTest, FillModeTakesTheCentredPartWithTheBoxShape) {
  QLPipelineRequest request;  // 160 x 120
  QLPipelineGeometry g;
  ASSERT_TRUE(PipelineGeometry(4000, 3000, request, &g));  // same shape: all of it
  EXPECT_EQ(160, g.width);
  EXPECT_EQ(120, g.height);
  EXPECT_EQ(0, g.source_x);
  EXPECT_EQ(0, g.source_y);
  EXPECT_EQ(4000, g.source_width);
  EXPECT_EQ(3000, g.source_height);

  ASSERT_TRUE(PipelineGeometry(3000, 4000, request, &g));  // portrait: a band across the middle
  EXPECT_EQ(3000, g.source_width);
  EXPECT_EQ(2250, g.source_height);
  EXPECT_EQ(875, g.source_y);

  ASSERT_TRUE(PipelineGeometry(6000, 3000, request, &g));  // wide: a band down the middle
  EXPECT_EQ(4000, g.source_width);
  EXPECT_EQ(1000, g.source_x);
}

TEST(GdPipelineTest, FitModePutsTheLongerSideOnTheLongerRequestedSide) {
  QLPipelineRequest request;
  request.full_screen = true;
  request.width = 1920;
  request.height = 1080;
  QLPipelineGeometry g;
  ASSERT_TRUE(PipelineGeometry(4000, 3000, request, &g));
  EXPECT_EQ(1920, g.width);
  EXPECT_EQ(1440, g.height);
  ASSERT_TRUE(PipelineGeometry(3000, 4000, request, &g));
  EXPECT_EQ(1440, g.width);
  EXPECT_EQ(1920, g.height);
  EXPECT_EQ(4000, g.source_height);
}

TEST(GdPipelineTest, SizesThatAreNotPositiveAreRefused) {
  QLPipelineRequest request;
  QLPipelineGeometry g;
  EXPECT_FALSE(PipelineGeometry(0, 10, request, &g));
  EXPECT_FALSE(PipelineGeometry(10, -1, request, &g));
  request.height = 0;
  EXPECT_FALSE(PipelineGeometry(10, 10, request, &g));
}

TEST(GdPipelineTest, ThumbnailIsAPngOfTheBoxCutFromTheCentre) {
  QLTempDir folder;
  QLPipelineRequest request;
  request.png_level = 1;
  std::vector<unsigned char> png = PipelineThumbnail(WriteBands(folder, 900, 300), request);
  ASSERT_FALSE(png.empty());
  Image thumb(gdImageCreateFromPngPtr(static_cast<int>(png.size()), png.data()));
  ASSERT_TRUE(thumb);
  EXPECT_EQ(160, gdImageSX(thumb.get()));
  EXPECT_EQ(120, gdImageSY(thumb.get()));
  // The crop is 400 wide from x = 250: the green band fills its middle and
  // the outer bands show only at its edges.
  int const middle = gdImageGetTrueColorPixel(thumb.get(), 80, 60);
  EXPECT_GT(gdTrueColorGetGreen(middle), 200);
  EXPECT_LT(gdTrueColorGetRed(middle), 60);
  int const left = gdImageGetTrueColorPixel(thumb.get(), 2, 60);
  EXPECT_GT(gdTrueColorGetRed(left), 200);
}

TEST(GdPipelineTest, MissingOrDamagedFilesGiveNothing) {
  QLTempDir folder;
  QLPipelineRequest request;
  EXPECT_TRUE(PipelineThumbnail(folder.File("absent.jpg"), request).empty());
  std::string const broken = folder.File("broken.jpg");
  std::ofstream(broken.c_str()) << "\xff\xd8 not really a JPEG";
  EXPECT_TRUE(PipelineThumbnail(broken, request).empty());
}

}  // namespace
