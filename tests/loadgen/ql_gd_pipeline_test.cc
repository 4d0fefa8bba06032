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

TEST(GdPipelineTest, GeometryOfEveryShapeInBothModes) {
  struct Case {
    char const* name;
    int source_width, source_height;
    bool full_screen;
    int box_width, box_height;
    QLPipelineGeometry want;  // thumbnail size, then source x, y, width, height
  } const cases[] = {
      // Fill: the centred part of the picture with the box's shape (all of a
      // picture of that shape, a band across a portrait, down a wide one).
      {"fill same shape", 4000, 3000, false, 160, 120, {160, 120, 0, 0, 4000, 3000}},
      {"fill portrait", 3000, 4000, false, 160, 120, {160, 120, 0, 875, 3000, 2250}},
      {"fill wide", 6000, 3000, false, 160, 120, {160, 120, 1000, 0, 4000, 3000}},
      // Fit: the longer side of the picture on the longer requested side.
      {"fit landscape", 4000, 3000, true, 1920, 1080, {1920, 1440, 0, 0, 4000, 3000}},
      {"fit portrait", 3000, 4000, true, 1920, 1080, {1440, 1920, 0, 0, 3000, 4000}},
  };
  for (Case const& c : cases) {
    QLPipelineRequest request;
    request.full_screen = c.full_screen;
    request.width = c.box_width;
    request.height = c.box_height;
    QLPipelineGeometry g;
    ASSERT_TRUE(PipelineGeometry(c.source_width, c.source_height, request, &g)) << c.name;
    EXPECT_EQ(c.want.width, g.width) << c.name;
    EXPECT_EQ(c.want.height, g.height) << c.name;
    EXPECT_EQ(c.want.source_x, g.source_x) << c.name;
    EXPECT_EQ(c.want.source_y, g.source_y) << c.name;
    EXPECT_EQ(c.want.source_width, g.source_width) << c.name;
    EXPECT_EQ(c.want.source_height, g.source_height) << c.name;
  }
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
