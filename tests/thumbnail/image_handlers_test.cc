// The file handlers (JPEG, PNG, GIF, BMP, WBMP) on files the tests write.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "image_fixtures.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qlimg::ByteOrder;
using qlimg::Bytes;
using qlimg::Format;
using qlimg::Rgb;

int const kW = 160, kH = 120, kBlock = 30;  // MarkedPicture(kW, kH) has 30-pixel blocks

class ImageHandlersTest : public testing::Test {
 protected:
  void SetUp() override {
    qlimg::WriteDefaultPictures(folder_.path());
    data_.default_thumbnail_folder = folder_.path();
    data_.width = kW;
    data_.height = kH;
    data_.full_screen = false;
    data_.save_to_cache = false;
  }

  std::string Write(std::string const& name, Bytes const& bytes) {
    data_.path = folder_.Join(name);
    qlimg::WriteFile(data_.path, bytes);
    return data_.path;
  }

  Bytes MarkedJpeg(Bytes const& exif_segment = Bytes()) {
    ScopedGdImage picture = qlimg::MarkedPicture(kW, kH);
    Bytes jpeg = qlimg::Encode(picture.get(), Format::kJpeg);
    return exif_segment.empty() ? jpeg : qlimg::InsertSegment(jpeg, exif_segment);
  }

  // The thumbnail shows the marked picture turned by `orientation`: the red
  // and green block centres are where EXIF puts the stored ones.
  void ExpectMarkedPicture(int orientation, int tolerance) {
    ScopedGdImage thumb = qlimg::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    bool const quarter = orientation >= 5 && orientation <= 8;
    ASSERT_EQ(quarter ? kH : kW, gdImageSX(thumb.get()));
    ASSERT_EQ(quarter ? kW : kH, gdImageSY(thumb.get()));
    struct {
      int x, y;
      Rgb color;
    } const marks[] = {{kBlock / 2, kBlock / 2, qlimg::kRed},
                       {kW - 1 - kBlock / 2, kBlock / 2, qlimg::kGreen}};
    for (auto const& mark : marks) {
      qlimg::Point const at = qlimg::UprightPosition(orientation, mark.x, mark.y, kW, kH);
      int const x = at.x, y = at.y;
      Rgb const found = qlimg::ColorAt(thumb.get(), x, y);
      EXPECT_TRUE(qlimg::Near(found, mark.color, tolerance))
          << "orientation " << orientation << ": " << mark.color << " expected at " << x << "," << y
          << ", found " << found;
    }
  }

  void ExpectDefaultImagePicture() {
    ScopedGdImage thumb = qlimg::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    EXPECT_TRUE(qlimg::Near(qlimg::ColorAt(thumb.get(), kW / 2, kH / 2), qlimg::kImageColor, 24));
    EXPECT_FALSE(data_.save_to_cache);
  }

  qlimg::ScratchFolder folder_;
  QLThumbnailProvider provider_;
  QLThumbnailData data_;
};

}  // namespace

TEST_F(ImageHandlersTest, JpegIsTurnedByEachExifOrientation) {
  for (int orientation = 1; orientation <= 8; ++orientation) {
    ByteOrder const order = orientation % 2 ? ByteOrder::kMotorola : ByteOrder::kIntel;
    Write("photo.jpg",
          MarkedJpeg(qlimg::ExifSegment(
              order, {qlimg::OrientationEntry(static_cast<std::uint16_t>(orientation))})));
    qlimg::ImageLogCapture log;
    ASSERT_TRUE(provider_.HandleImgJpg(data_)) << orientation;
    EXPECT_TRUE(data_.save_to_cache);
    EXPECT_TRUE(log.Contains("] HandleImgJpg: open file took: ")) << log.text();
    ExpectMarkedPicture(orientation, 48);
  }
}

TEST_F(ImageHandlersTest, JpegOrientationThatIsNegativeOrOutsideIfd0IsUnturned) {
  Write("negative.jpg",
        MarkedJpeg(qlimg::ExifSegment(ByteOrder::kIntel, {qlimg::OrientationEntry(0x8006)})));
  ASSERT_TRUE(provider_.HandleImgJpg(data_));
  ExpectMarkedPicture(1, 48);

  qlimg::IfdEntry const resolution_unit = {0x0128, 3, 1, 2};
  Write("ifd1.jpg", MarkedJpeg(qlimg::ExifSegment(ByteOrder::kMotorola, {resolution_unit},
                                                  {qlimg::OrientationEntry(6)})));
  ASSERT_TRUE(provider_.HandleImgJpg(data_));
  ExpectMarkedPicture(1, 48);
}

TEST_F(ImageHandlersTest, MissingFileGetsTheDefaultImagePicture) {
  data_.path = folder_.Join("gone.jpg");
  data_.save_to_cache = true;
  qlimg::ImageLogCapture log;
  ASSERT_TRUE(provider_.HandleImgJpg(data_));
  EXPECT_TRUE(log.Contains("ERROR:")) << log.text();
  EXPECT_TRUE(log.Contains("] Unable to open file \"" + data_.path +
                           "\" in order to generate its thumbnail.\n"))
      << log.text();
  EXPECT_TRUE(log.Contains("] HandleImgGeneric: open file took: ")) << log.text();
  ExpectDefaultImagePicture();
}

TEST_F(ImageHandlersTest, MissingFileAndMissingDefaultPictureFail) {
  std::remove(folder_.Join("image.jpg").c_str());
  data_.path = folder_.Join("gone.png");
  EXPECT_FALSE(provider_.HandleImgPng(data_));
  EXPECT_FALSE(data_.thumbnail);
  EXPECT_FALSE(provider_.HandleImgWBMP(data_));
}

TEST_F(ImageHandlersTest, CorruptJpegGetsTheDefaultImagePicture) {
  Bytes corrupt = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43};
  corrupt.resize(400, 0x5A);
  std::string const path = Write("corrupt.jpg", corrupt);
  qlimg::ImageLogCapture log;
  ASSERT_TRUE(provider_.HandleImgJpg(data_));
  EXPECT_TRUE(log.Contains("] Invalid JPEG format for \"" + path + "\"\n")) << log.text();
  ExpectDefaultImagePicture();
}

// libjpeg reports a cut-off file to libgd; the decoder must come back (with
// a partial picture or none), never end the process.
TEST_F(ImageHandlersTest, TruncatedJpegNeverEndsTheProcess) {
  Bytes const whole = MarkedJpeg();
  for (std::size_t keep : {whole.size() / 2, std::size_t{200}, std::size_t{20}, std::size_t{2}}) {
    Write("cut.jpg", Bytes(whole.begin(), whole.begin() + keep));
    ASSERT_TRUE(provider_.HandleImgJpg(data_)) << keep;
    EXPECT_TRUE(qlimg::DecodeThumbnail(data_)) << keep;
  }
}

TEST_F(ImageHandlersTest, PngIsDecodedExactly) {
  ScopedGdImage picture = qlimg::MarkedPicture(kW, kH);
  Write("picture.png", qlimg::Encode(picture.get(), Format::kPng));
  qlimg::ImageLogCapture log;
  ASSERT_TRUE(provider_.HandleImgPng(data_));
  EXPECT_TRUE(data_.save_to_cache);
  EXPECT_TRUE(log.Contains("] HandleImgPng: open file took: ")) << log.text();
  ExpectMarkedPicture(1, 0);
}

TEST_F(ImageHandlersTest, PngNamedFileHoldingJpegIsDecodedAndTurned) {
  std::string const path = Write(
      "photo.png", MarkedJpeg(qlimg::ExifSegment(ByteOrder::kIntel, {qlimg::OrientationEntry(6)})));
  qlimg::ImageLogCapture log;
  ASSERT_TRUE(provider_.HandleImgPng(data_));
  EXPECT_FALSE(log.Contains("Invalid PNG format")) << log.text();
  EXPECT_TRUE(data_.save_to_cache);
  ExpectMarkedPicture(6, 48);
}

TEST_F(ImageHandlersTest, GifNamedFileHoldingJpegGetsTheDefaultImagePicture) {
  std::string const path = Write("photo.gif", MarkedJpeg());
  qlimg::ImageLogCapture log;
  ASSERT_TRUE(provider_.HandleImgGif(data_));
  EXPECT_TRUE(log.Contains("ERROR:")) << log.text();
  EXPECT_TRUE(log.Contains("] Invalid GIF format for \"" + path + "\"\n")) << log.text();
  ExpectDefaultImagePicture();
}

TEST_F(ImageHandlersTest, GifAndBmpAreDecodedUnturned) {
  ScopedGdImage picture = qlimg::MarkedPicture(kW, kH);
  struct {
    char const* name;
    Format format;
    bool (QLThumbnailProvider::*handler)(QLThumbnailData&);
    char const* timing;
  } const cases[] = {
      {"p.gif", Format::kGif, &QLThumbnailProvider::HandleImgGif,
       "] HandleImgGif: open file took: "},
      {"p.bmp", Format::kBmp, &QLThumbnailProvider::HandleImgBmp,
       "] HandleImgBmp: open file took: "},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, qlimg::Encode(picture.get(), c.format));
    qlimg::ImageLogCapture log;
    ASSERT_TRUE((provider_.*c.handler)(data_));
    EXPECT_TRUE(data_.save_to_cache);
    EXPECT_TRUE(log.Contains(c.timing)) << log.text();
    ExpectMarkedPicture(1, 8);  // GIF keeps a palette close to the colours
  }
}

TEST_F(ImageHandlersTest, WbmpIsDecodedWithoutTimingLine) {
  ScopedGdImage picture = qlimg::SolidPicture(kW, kH, Rgb{255, 255, 255});
  gdImageFilledRectangle(picture.get(), 0, 0, kW / 2 - 1, kH - 1, gdTrueColor(0, 0, 0));
  Write("p.wbmp", qlimg::Encode(picture.get(), Format::kWbmp));
  qlimg::ImageLogCapture log;
  ASSERT_TRUE(provider_.HandleImgWBMP(data_));
  EXPECT_TRUE(data_.save_to_cache);
  EXPECT_FALSE(log.Contains("open file took")) << log.text();
  ScopedGdImage thumb = qlimg::DecodeThumbnail(data_);
  ASSERT_TRUE(thumb);
  EXPECT_EQ((Rgb{0, 0, 0}), qlimg::ColorAt(thumb.get(), 10, 10));
  EXPECT_EQ((Rgb{255, 255, 255}), qlimg::ColorAt(thumb.get(), kW - 10, 10));

  Write("text.wbmp", Bytes{'n', 'o', 't', ' ', 'w', 'b', 'm', 'p'});
  ASSERT_TRUE(provider_.HandleImgWBMP(data_));
  EXPECT_TRUE(log.Contains("] Invalid WBMP format for \"" + data_.path + "\"\n")) << log.text();
  ExpectDefaultImagePicture();
}

// Damaged files of every format (bytes overwritten, some cut short) must
// always end in a thumbnail, the picture's or the default one.
TEST_F(ImageHandlersTest, DamagedFilesAlwaysGetAThumbnail) {
  ScopedGdImage picture = qlimg::MarkedPicture(40, 30);
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
    Bytes good = qlimg::Encode(picture.get(), c.format);
    if (c.format == Format::kJpeg) {
      good = qlimg::InsertSegment(
          good, qlimg::ExifSegment(ByteOrder::kIntel, {qlimg::OrientationEntry(6)},
                                   {qlimg::OrientationEntry(3)}));
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
