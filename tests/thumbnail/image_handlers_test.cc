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

TEST_F(ImageHandlersTest, JpegOrientationThatIsNegativeOrOutsideIfd0IsUnturned) {
  Write("negative.jpg",
        MarkedJpeg(qltest::ExifSegment(ByteOrder::kIntel, {qltest::OrientationEntry(0x8006)})));
  ASSERT_TRUE(provider_.HandleImgJpg(data_));
  ExpectMarkedPicture(1, 48);

  qltest::IfdEntry const resolution_unit = {0x0128, 3, 1, 2};
  Write("ifd1.jpg", MarkedJpeg(qltest::ExifSegment(ByteOrder::kMotorola, {resolution_unit},
                                                   {qltest::OrientationEntry(6)})));
  ASSERT_TRUE(provider_.HandleImgJpg(data_));
  ExpectMarkedPicture(1, 48);
}

TEST_F(ImageHandlersTest, MissingFileGetsTheDefaultImagePicture) {
  data_.path = folder_.File("gone.jpg");
  data_.save_to_cache = true;
  qltest::LogCapture log;
  ASSERT_TRUE(provider_.HandleImgJpg(data_));
  EXPECT_TRUE(log.Contains("ERROR:"));
  EXPECT_TRUE(log.Contains("] Unable to open file \"" + data_.path +
                           "\" in order to generate its thumbnail.\n"));
  EXPECT_TRUE(log.Contains("] HandleImgGeneric: open file took: "));
  ExpectDefaultImagePicture();
}

TEST_F(ImageHandlersTest, MissingFileAndMissingDefaultPictureFail) {
  std::remove(folder_.File("image.jpg").c_str());
  data_.path = folder_.File("gone.png");
  EXPECT_FALSE(provider_.HandleImgPng(data_));
  EXPECT_FALSE(data_.thumbnail);
  EXPECT_FALSE(provider_.HandleImgWBMP(data_));
}

// libjpeg reports a cut-off file to libgd; the decoder must come back (with
// a partial picture or none), never end the process.
TEST_F(ImageHandlersTest, TruncatedJpegNeverEndsTheProcess) {
  Bytes const whole = MarkedJpeg();
  for (std::size_t keep : {whole.size() / 2, std::size_t{200}, std::size_t{20}, std::size_t{2}}) {
    Write("cut.jpg", Bytes(whole.begin(), whole.begin() + keep));
    ASSERT_TRUE(provider_.HandleImgJpg(data_)) << keep;
    EXPECT_TRUE(qltest::DecodeThumbnail(data_)) << keep;
  }
}

TEST_F(ImageHandlersTest, PngNamedFileHoldingJpegIsDecodedAndTurned) {
  std::string const path =
      Write("photo.png",
            MarkedJpeg(qltest::ExifSegment(ByteOrder::kIntel, {qltest::OrientationEntry(6)})));
  qltest::LogCapture log;
  ASSERT_TRUE(provider_.HandleImgPng(data_));
  EXPECT_FALSE(log.Contains("Invalid PNG format"));
  EXPECT_TRUE(data_.save_to_cache);
  ExpectMarkedPicture(6, 48);
}

// PNG exactly; GIF keeps a palette close to the colours.
TEST_F(ImageHandlersTest, PngGifAndBmpAreDecodedUnturned) {
  ScopedGdImage picture = qltest::MarkedPicture(kW, kH);
  struct {
    char const* name;
    Format format;
    bool (QLThumbnailProvider::*handler)(QLThumbnailData&);
    char const* timing;
    int tolerance;
  } const cases[] = {
      {"p.png", Format::kPng, &QLThumbnailProvider::HandleImgPng,
       "] HandleImgPng: open file took: ", 0},
      {"p.gif", Format::kGif, &QLThumbnailProvider::HandleImgGif,
       "] HandleImgGif: open file took: ", 8},
      {"p.bmp", Format::kBmp, &QLThumbnailProvider::HandleImgBmp,
       "] HandleImgBmp: open file took: ", 8},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, qltest::Encode(picture.get(), c.format));
    data_.save_to_cache = false;
    qltest::LogCapture log;
    ASSERT_TRUE((provider_.*c.handler)(data_));
    EXPECT_TRUE(data_.save_to_cache);
    EXPECT_TRUE(log.Contains(c.timing));
    ExpectMarkedPicture(1, c.tolerance);
  }
}

TEST_F(ImageHandlersTest, WbmpIsDecodedWithoutTimingLine) {
  ScopedGdImage picture = qltest::SolidPicture(kW, kH, Rgb{255, 255, 255});
  gdImageFilledRectangle(picture.get(), 0, 0, kW / 2 - 1, kH - 1, gdTrueColor(0, 0, 0));
  Write("p.wbmp", qltest::Encode(picture.get(), Format::kWbmp));
  qltest::LogCapture log;
  ASSERT_TRUE(provider_.HandleImgWBMP(data_));
  EXPECT_TRUE(data_.save_to_cache);
  EXPECT_FALSE(log.Contains("open file took"));
  ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
  ASSERT_TRUE(thumb);
  EXPECT_EQ((Rgb{0, 0, 0}), qltest::ColorAt(thumb.get(), 10, 10));
  EXPECT_EQ((Rgb{255, 255, 255}), qltest::ColorAt(thumb.get(), kW - 10, 10));
}

TEST_F(ImageHandlersTest, UndecodableFileGetsTheDefaultImagePicture) {
  Bytes corrupt_jpeg = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43};
  corrupt_jpeg.resize(400, 0x5A);
  struct {
    char const* name;
    Bytes bytes;
    bool (QLThumbnailProvider::*handler)(QLThumbnailData&);
    char const* format;
    char const* level;
  } const cases[] = {
      {"corrupt.jpg", corrupt_jpeg, &QLThumbnailProvider::HandleImgJpg, "JPEG", ""},
      {"photo.gif", MarkedJpeg(), &QLThumbnailProvider::HandleImgGif, "GIF", "ERROR:"},
      {"text.wbmp", Bytes{'n', 'o', 't', ' ', 'w', 'b', 'm', 'p'},
       &QLThumbnailProvider::HandleImgWBMP, "WBMP", ""},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    std::string const path = Write(c.name, c.bytes);
    data_.save_to_cache = true;
    qltest::LogCapture log;
    ASSERT_TRUE((provider_.*c.handler)(data_));
    EXPECT_TRUE(log.Contains(c.level));
    EXPECT_TRUE(
        log.Contains(std::string("] Invalid ") + c.format + " format for \"" + path + "\"\n"));
    ExpectDefaultImagePicture();
  }
}

// Damaged files of every format (bytes overwritten, some cut short) must
// always end in a thumbnail, the picture's or the default one.
TEST_F(ImageHandlersTest, DamagedFilesAlwaysGetAThumbnail) {
  ScopedGdImage picture = qltest::MarkedPicture(40, 30);
  struct {
    Format format;
    char const* name;
    bool (QLThumbnailProvider::*handler)(QLThumbnailData&);
  } const cases[] = {{Format::kJpeg, "d.jpg", &QLThumbnailProvider::HandleImgJpg},
                     {Format::kPng, "d.png", &QLThumbnailProvider::HandleImgPng},
                     {Format::kGif, "d.gif", &QLThumbnailProvider::HandleImgGif},
                     {Format::kBmp, "d.bmp", &QLThumbnailProvider::HandleImgBmp},
                     {Format::kWbmp, "d.wbmp", &QLThumbnailProvider::HandleImgWBMP}};
  for (auto const& c : cases) {
    Bytes good = qltest::Encode(picture.get(), c.format);
    if (c.format == Format::kJpeg) {
      good = qltest::InsertSegment(
          good, qltest::ExifSegment(ByteOrder::kIntel, {qltest::OrientationEntry(6)},
                                    {qltest::OrientationEntry(3)}));
    }
    std::uint32_t seed = 7;
    for (int round = 0; round < 60; ++round) {
      Bytes damaged = good;
      for (int i = 0; i <= round % 6; ++i) {
        seed = seed * 1103515245u + 12345u;
        damaged[(seed >> 8) % good.size()] = static_cast<unsigned char>(seed >> 24);
      }
      if (round % 5 == 0) damaged.resize((seed >> 4) % damaged.size());
      Write(c.name, damaged);
      ASSERT_TRUE((provider_.*c.handler)(data_)) << c.name << " round " << round;
    }
  }
}
