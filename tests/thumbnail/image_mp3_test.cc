// HandleAudioMp3 on MP3 files whose ID3v2 tags the tests write byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::ApicFrame;
using qltest::Bytes;
using qltest::Format;
using qltest::Rgb;

Rgb const kCover = {200, 30, 160};
Rgb const kSecondCover = {40, 160, 90};

class Mp3HandlerTest : public qltest::ProviderTest {
 protected:
  void SetUp() override {
    qltest::WriteDefaultPictures(folder_.path());
    data_.path = folder_.File("song.mp3");
    data_.width = 40;
    data_.height = 40;
  }

  static Bytes Cover(Format format, Rgb color = kCover) {
    return qltest::Solid(format, 48, 48, color);
  }

  void WriteMp3(int version, std::vector<Bytes> const& frames) {
    qltest::WriteFile(data_.path, qltest::Mp3File(version, frames));
  }

  // The thumbnail's centre colour is `color` and save_to_cache is `cached`.
  void ExpectThumbnail(Rgb color, int tolerance, bool cached) {
    EXPECT_EQ(cached, data_.save_to_cache);
    Rgb const found = ThumbnailCentre();
    EXPECT_TRUE(qltest::Near(found, color, tolerance)) << "want " << color << ", found " << found;
  }
};

}  // namespace

TEST_F(Mp3HandlerTest, MissingFileOrFileWithoutTagGetsTheAudioPicture) {
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  ExpectThumbnail(qltest::kAudioColor, 24, false);
  WriteMp3(3, {});
  data_.save_to_cache = true;
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  ExpectThumbnail(qltest::kAudioColor, 24, false);
}

// The type is matched without regard to case; "image/jpg", a wrong type and
// no type at all: the decoders are tried in turn.
TEST_F(Mp3HandlerTest, MimeTypeIsMatchedOrDecodedByTrying) {
  struct {
    char const* mime;
    Format format;
    int tolerance;
    int version;
  } const cases[] = {{"IMAGE/JPEG", Format::kJpeg, 24, 3},
                     {"IMAGE/JPEG", Format::kJpeg, 24, 4},
                     {"image/jpg", Format::kJpeg, 24, 4},
                     {"image/jpeg", Format::kPng, 0, 4},
                     {"", Format::kGif, 8, 4},
                     {"image/x-windows-bmp", Format::kWbmp, 0, 4}};
  for (auto const& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mime << " v" << c.version);
    // WBMP holds black and white only: draw the cover black.
    Rgb const color = c.format == Format::kWbmp ? Rgb{0, 0, 0} : kCover;
    WriteMp3(c.version, {ApicFrame(c.version, c.mime, Cover(c.format, color))});
    data_.save_to_cache = false;
    ASSERT_TRUE(provider_.HandleAudioMp3(data_));
    ExpectThumbnail(color, c.tolerance, true);
  }
}

TEST_F(Mp3HandlerTest, UndecodableFirstPictureIsSkipped) {
  Bytes const junk = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};
  WriteMp3(3, {ApicFrame(3, "image/png", junk),
               ApicFrame(3, "image/png", Cover(Format::kPng, kSecondCover))});
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  ExpectThumbnail(kSecondCover, 0, true);
}

TEST_F(Mp3HandlerTest, OnlyUndecodablePicturesGetTheAudioPicture) {
  WriteMp3(4,
           {ApicFrame(4, "image/png", Bytes{'x', 'y', 'z'}), ApicFrame(4, "image/gif", Bytes())});
  data_.save_to_cache = true;
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  ExpectThumbnail(qltest::kAudioColor, 24, false);
}

TEST_F(Mp3HandlerTest, NoCoverAndNoAudioPictureFails) {
  std::remove(folder_.File("audio.jpg").c_str());
  WriteMp3(3, {});
  EXPECT_FALSE(provider_.HandleAudioMp3(data_));
  EXPECT_FALSE(data_.thumbnail);
}

// A 1 x 1 cover scaled to fit 50000 pixels needs a canvas libgd refuses; a
// 1000 x 1 cover gives 50000 x 50. The handler must go on to the second.
TEST_F(Mp3HandlerTest, FailedResizeTriesTheNextPicture) {
  WriteMp3(3, {ApicFrame(3, "image/png", qltest::Solid(Format::kPng, 1, 1, kCover)),
               ApicFrame(3, "image/png", qltest::Solid(Format::kPng, 1000, 1, kSecondCover))});
  data_.width = 50000;
  data_.height = 1;
  data_.full_screen = true;
  QLThumbnailOptions unlimited;  // lifted, so that libgd itself refuses the first canvas
  unlimited.max_thumbnail_pixels = UINT64_MAX;
  provider_.SetOptions(unlimited);
  qltest::LogCapture log;
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  EXPECT_TRUE(log.Contains("Unable to allocate image buffer for thumbnail."));
  EXPECT_TRUE(data_.save_to_cache);
  ScopedGdImage thumb = qltest::DecodeThumbnail(data_);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(50000, gdImageSX(thumb.get()));
  EXPECT_EQ(50, gdImageSY(thumb.get()));
  EXPECT_EQ(kSecondCover, qltest::ColorAt(thumb.get(), 100, 25));
}

// Damaged tags (bytes of the header and first frame overwritten) must always
// end in a thumbnail, a cover or the audio picture.
TEST_F(Mp3HandlerTest, DamagedTagsAlwaysGetAThumbnail) {
  for (int version : {3, 4}) {
    Bytes const good =
        qltest::Mp3File(version, {ApicFrame(version, "image/png", Cover(Format::kPng)),
                                  ApicFrame(version, "image/jpeg", Cover(Format::kJpeg))});
    std::uint32_t seed = 99 + version;
    for (int round = 0; round < 150; ++round) {
      Bytes damaged = good;
      for (int i = 0; i <= round % 8; ++i) {
        seed = seed * 1103515245u + 12345u;
        damaged[(seed >> 8) % 200] = static_cast<unsigned char>(seed >> 24);
      }
      qltest::WriteFile(data_.path, damaged);
      ASSERT_TRUE(provider_.HandleAudioMp3(data_)) << "version " << version << " round " << round;
      EXPECT_TRUE(qltest::DecodeThumbnail(data_));
    }
  }
}
