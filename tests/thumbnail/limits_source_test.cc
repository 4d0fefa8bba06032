// The source-pixel limit: files, attached MP3 pictures and default pictures
// whose header claims more pixels than allowed are never decoded and get
// their type's fallback, with an ERROR line naming the file and its size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::Bytes;
using qltest::Format;
using qltest::Rgb;

Rgb const kPictureColor = {200, 30, 160};
int const kW = 160, kH = 120;

class SourceLimitTest : public qltest::ProviderTest {
 protected:
  void SetUp() override { qltest::WriteDefaultPictures(folder_.path()); }

  void SetLimit(std::uint64_t max_source_pixels) {
    QLThumbnailOptions options;
    options.max_source_pixels = max_source_pixels;
    provider_.SetOptions(options);
  }

  static Bytes Picture(Format format, int width = kW, int height = kH) {
    return qltest::Solid(format, width, height, kPictureColor);
  }
};

// At the limit a picture is decoded; one pixel over, its handler makes the
// default image thumbnail instead, which is not cached.
TEST_F(SourceLimitTest, EachImageHandlerRefusesAPictureOverTheLimit) {
  struct {
    Format format;
    char const* name;
    char const* format_name;
    QLThumbnailProvider::Handler handler;
  } const cases[] = {
      {Format::kJpeg, "a.jpg", "JPEG", &QLThumbnailProvider::HandleImgJpg},
      {Format::kPng, "a.png", "PNG", &QLThumbnailProvider::HandleImgPng},
      {Format::kJpeg, "jpeg-inside.png", "JPEG", &QLThumbnailProvider::HandleImgPng},
      {Format::kGif, "a.gif", "GIF", &QLThumbnailProvider::HandleImgGif},
      {Format::kBmp, "a.bmp", "BMP", &QLThumbnailProvider::HandleImgBmp},
      {Format::kWbmp, "a.wbmp", "WBMP", &QLThumbnailProvider::HandleImgWBMP},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    std::string const path = Write(c.name, Picture(c.format));

    SetLimit(kW * kH);
    {
      qltest::LogCapture log;
      ASSERT_TRUE((provider_.*c.handler)(data_));
      EXPECT_TRUE(data_.save_to_cache);
      EXPECT_FALSE(qltest::Near(ThumbnailCentre(), qltest::kImageColor, 10));
      EXPECT_FALSE(log.Contains("ERROR:"));
    }

    SetLimit(kW * kH - 1);
    data_.save_to_cache = false;
    qltest::LogCapture log;
    ASSERT_TRUE((provider_.*c.handler)(data_));
    EXPECT_FALSE(data_.save_to_cache);
    EXPECT_TRUE(qltest::Near(ThumbnailCentre(), qltest::kImageColor, 10));
    EXPECT_TRUE(log.Contains("ERROR:"));
    EXPECT_TRUE(log.Contains("\"" + path + "\" is a " + c.format_name + " picture of 160x120"));
    EXPECT_FALSE(log.Contains("Invalid ")) << "the decoder ran";
  }
}

// A header that claims a huge picture over a few bytes of data is refused
// on the header alone: the decoder, which would allocate for the claimed
// size first, never runs.
TEST_F(SourceLimitTest, ForgedHeaderIsRefusedBeforeAnyDecoderRuns) {
  // JPEG: the frame header of a real JPEG patched to 30000 x 20000.
  Bytes jpeg = Picture(Format::kJpeg);
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 20000 >> 8;
      jpeg[i + 6] = 20000 & 0xFF;
      jpeg[i + 7] = 30000 >> 8;
      jpeg[i + 8] = 30000 & 0xFF;
      break;
    }
  }
  // PNG: IHDR claiming 100000 x 100000 (the CRC no longer matches).
  Bytes png = Picture(Format::kPng);
  png[16] = 0;
  png[17] = 0x01;
  png[18] = 0x86;
  png[19] = 0xA0;
  for (int i = 0; i < 4; ++i) png[20 + i] = png[16 + i];
  // WBMP: 40000 x 40000 and nothing after.
  Bytes const wbmp = {0, 0, 0x82, 0xB8, 0x40, 0x82, 0xB8, 0x40};

  struct {
    Bytes bytes;
    char const* name;
    char const* size;
    QLThumbnailProvider::Handler handler;
  } const cases[] = {
      {jpeg, "forged.jpg", "30000x20000", &QLThumbnailProvider::HandleImgJpg},
      {png, "forged.png", "100000x100000", &QLThumbnailProvider::HandleImgPng},
      {wbmp, "forged.wbmp", "40000x40000", &QLThumbnailProvider::HandleImgWBMP},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.name);
    std::string const path = Write(c.name, c.bytes);
    qltest::LogCapture log;
    ASSERT_TRUE((provider_.*c.handler)(data_));  // default limit
    EXPECT_TRUE(qltest::Near(ThumbnailCentre(), qltest::kImageColor, 10));
    EXPECT_TRUE(log.Contains("\"" + path + "\" is a "));
    EXPECT_TRUE(log.Contains(std::string(" picture of ") + c.size + " pixels"));
    EXPECT_FALSE(log.Contains("Invalid "));
  }
}

// An over-large attached picture is skipped like an undecodable one: the
// next one serves, and with none left the audio picture does.
TEST_F(SourceLimitTest, Mp3CoverOverTheLimitIsSkipped) {
  SetLimit(100 * 100);
  Bytes const big = Picture(Format::kJpeg, 101, 100);
  Rgb const second_color = {40, 160, 90};
  Bytes const small = qltest::Solid(Format::kPng, 100, 100, second_color);

  std::string const path =
      Write("song.mp3", qltest::Mp3File(3, {qltest::ApicFrame(3, "image/jpeg", big),
                                            qltest::ApicFrame(3, "image/png", small)}));
  {
    qltest::LogCapture log;
    ASSERT_TRUE(provider_.HandleAudioMp3(data_));
    EXPECT_TRUE(data_.save_to_cache);
    EXPECT_TRUE(qltest::Near(ThumbnailCentre(), second_color, 10));
    EXPECT_TRUE(
        log.Contains("Attached picture 0 of \"" + path + "\" is a JPEG picture of 101x100"));
    EXPECT_FALSE(log.Contains("Attached picture 1"));
  }

  Write("only-big.mp3", qltest::Mp3File(4, {qltest::ApicFrame(4, "", big)}));
  data_.save_to_cache = false;
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  EXPECT_FALSE(data_.save_to_cache);
  EXPECT_TRUE(qltest::Near(ThumbnailCentre(), qltest::kAudioColor, 10));
}

// The default folder comes with the request, so its pictures are held to
// the same limit; an over-large one is no fallback.
TEST_F(SourceLimitTest, DefaultPictureOverTheLimitIsNotUsed) {
  std::string const image_default = folder_.File("image.jpg");
  qltest::WriteFile(image_default, qltest::Solid(Format::kJpeg, 300, 200, qltest::kImageColor));
  data_.path = folder_.File("missing.jpg");

  SetLimit(300 * 200);
  EXPECT_TRUE(provider_.HandleImgJpg(data_));

  SetLimit(300 * 200 - 1);
  qltest::LogCapture log;
  EXPECT_FALSE(provider_.HandleImgJpg(data_));
  EXPECT_TRUE(log.Contains("\"" + image_default + "\" is a JPEG picture of 300x200"));
  // The dispatcher's last fallback still works: "any_file.jpg" is small.
  EXPECT_TRUE(provider_.GetThumbnailFor(data_));
  EXPECT_TRUE(qltest::Near(ThumbnailCentre(), qltest::kAnyColor, 10));
}

}  // namespace
