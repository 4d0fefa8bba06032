// The file handlers (JPEG, PNG, GIF, BMP, WBMP) on files the tests write.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "test_support.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::ByteOrder;
using qltest::Bytes;
using qltest::Format;
using qltest::Rgb;

int const kW = 160, kH = 120,
          kBlock = 30;  // MarkedPicture(kW, kH) has 30-pixel blocks

class ImageHandlersTest : public qltest::ProviderTest {
 protected:
  void SetUp() override {
    qltest::WriteDefaultPictures(folder_.path());
    data_.width = kW;
    data_.height = kH;
  }

  Bytes MarkedJpeg(Bytes const& exif_segment = Bytes()) {
    Bytes const jpeg = qltest::Encode(qltest::MarkedPicture(kW, kH).get(), Format::kJpeg);
    return exif_segment.empty() ? jpeg : qltest::InsertSegment(jpeg, exif_segment);
  }

  // The thumbnail shows the marked picture turned by `orientation`: the red
  // and green block centres are where EXIF puts the stored ones.
  void ExpectMarkedPicture(int orientation, int tolerance) {
    ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    bool const quarter = orientation >= 5 && orientation <= 8;
    ASSERT_EQ(quarter ? kH : kW, gdImageSX(thumb.get()));
    ASSERT_EQ(quarter ? kW : kH, gdImageSY(thumb.get()));
    struct {
      int x, y;
      Rgb color;
    } const marks[] = {{kBlock / 2, kBlock / 2, qltest::kRed},
                       {kW - 1 - kBlock / 2, kBlock / 2, qltest::kGreen}};
    for (auto const& mark : marks) {
      qltest::Point const at = qltest::UprightPosition(orientation, mark.x, mark.y, kW, kH);
      int const x = at.x, y = at.y;
      Rgb const found = qltest::ColorAt(thumb.get(), x, y);
      EXPECT_TRUE(qltest::Near(found, mark.color, tolerance))
          << "orientation " << orientation << ": " << mark.color << " expected at " << x << "," << y
          << ", found " << found;
    }
  }

  void ExpectDefaultImagePicture() {
    EXPECT_TRUE(qltest::Near(ThumbnailCentre(), qltest::kImageColor));
    EXPECT_FALSE(data_.save_to_cache);
  }
};

}  // namespace

TEST_F(ImageHandlersTest, JpegIsTurnedByEachExifOrientation) {
  for (int orientation = 1; orientation <= 8; ++orientation) {
    ByteOrder const order = orientation % 2 ? ByteOrder::kMotorola : ByteOrder::kIntel;
    Write("photo.jpg",
          MarkedJpeg(qltest::ExifSegment(
              order, {qltest::OrientationEntry(static_cast<std::uint16_t>(orientation))})));
    qltest::LogCapture log;
    ASSERT_TRUE(provider_.HandleImgJpg(data_)) << orientation;
    EXPECT_TRUE(data_.save_to_cache);
    EXPECT_TRUE(log.Contains("] HandleImgJpg: open file took: "));
    ExpectMarkedPicture(orientation, 48);
  }
}
