// HandleAudioMp3 on MP3 files whose ID3v2 tags the tests write byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image_fixtures.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qlimg::ApicFrame;
using qlimg::Bytes;
using qlimg::Format;
using qlimg::Rgb;

Rgb const kCover = {200, 30, 160};
Rgb const kSecondCover = {40, 160, 90};

class Mp3HandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    qlimg::WriteDefaultPictures(folder_.path());
    data_.default_thumbnail_folder = folder_.path();
    data_.path = folder_.Join("song.mp3");
    data_.width = 40;
    data_.height = 40;
    data_.full_screen = false;
    data_.save_to_cache = false;
  }

  static Bytes Cover(Format format, Rgb color = kCover) {
    ScopedGdImage picture = qlimg::SolidPicture(48, 48, color);
    return qlimg::Encode(picture.get(), format);
  }

  void WriteMp3(int version, std::vector<Bytes> const& frames) {
    qlimg::WriteFile(data_.path, qlimg::Mp3File(version, frames));
  }

  // The thumbnail's centre colour is `color` and save_to_cache is `cached`.
  void ExpectThumbnail(Rgb color, int tolerance, bool cached) {
    EXPECT_EQ(cached, data_.save_to_cache);
    ScopedGdImage thumb = qlimg::DecodeThumbnail(data_);
    ASSERT_TRUE(thumb);
    Rgb const found = qlimg::ColorAt(thumb.get(), 20, 20);
    EXPECT_TRUE(qlimg::Near(found, color, tolerance)) << "want " << color << ", found " << found;
  }

  qlimg::ScratchFolder folder_;
  QLThumbnailProvider provider_;
  QLThumbnailData data_;
};

}  // namespace

TEST_F(Mp3HandlerTest, FileWithoutTagGetsTheAudioPicture) {
  WriteMp3(3, {});
  data_.save_to_cache = true;
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  ExpectThumbnail(qlimg::kAudioColor, 24, false);
}

TEST_F(Mp3HandlerTest, MissingFileGetsTheAudioPicture) {
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  ExpectThumbnail(qlimg::kAudioColor, 24, false);
}

TEST_F(Mp3HandlerTest, MimeTypeIsMatchedWithoutRegardToCase) {
  for (int version : {3, 4}) {
    WriteMp3(version, {ApicFrame(version, "IMAGE/JPEG", Cover(Format::kJpeg))});
    ASSERT_TRUE(provider_.HandleAudioMp3(data_)) << version;
    ExpectThumbnail(kCover, 24, true);
  }
}

// "image/jpg", a wrong type and no type at all: the decoders are tried in turn.
TEST_F(Mp3HandlerTest, UnknownOrWrongMimeTypeIsDecodedByTrying) {
  struct {
    char const* mime;
    Format format;
    int tolerance;
  } const cases[] = {{"image/jpg", Format::kJpeg, 24},
                     {"image/jpeg", Format::kPng, 0},
                     {"", Format::kGif, 8},
                     {"image/x-windows-bmp", Format::kWbmp, 0}};
  for (auto const& c : cases) {
    SCOPED_TRACE(c.mime);
    // WBMP holds black and white only: draw the cover black.
    Rgb const color = c.format == Format::kWbmp ? Rgb{0, 0, 0} : kCover;
    WriteMp3(4, {ApicFrame(4, c.mime, Cover(c.format, color))});
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
  ExpectThumbnail(qlimg::kAudioColor, 24, false);
}

TEST_F(Mp3HandlerTest, NoCoverAndNoAudioPictureFails) {
  std::remove(folder_.Join("audio.jpg").c_str());
  WriteMp3(3, {});
  EXPECT_FALSE(provider_.HandleAudioMp3(data_));
  EXPECT_FALSE(data_.thumbnail);
}

// A 1 x 1 cover scaled to fit 50000 pixels needs a canvas libgd refuses; a
// 1000 x 1 cover gives 50000 x 50. The handler must go on to the second.
TEST_F(Mp3HandlerTest, FailedResizeTriesTheNextPicture) {
  ScopedGdImage dot = qlimg::SolidPicture(1, 1, kCover);
  ScopedGdImage line = qlimg::SolidPicture(1000, 1, kSecondCover);
  WriteMp3(3, {ApicFrame(3, "image/png", qlimg::Encode(dot.get(), Format::kPng)),
               ApicFrame(3, "image/png", qlimg::Encode(line.get(), Format::kPng))});
  data_.width = 50000;
  data_.height = 1;
  data_.full_screen = true;
  QLThumbnailOptions unlimited;  // lifted, so that libgd itself refuses the first canvas
  unlimited.max_thumbnail_pixels = UINT64_MAX;
  provider_.SetOptions(unlimited);
  qlimg::ImageLogCapture log;
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  EXPECT_TRUE(log.Contains("Unable to allocate image buffer for thumbnail.")) << log.text();
  EXPECT_TRUE(data_.save_to_cache);
  ScopedGdImage thumb = qlimg::DecodeThumbnail(data_);
  ASSERT_TRUE(thumb);
  EXPECT_EQ(50000, gdImageSX(thumb.get()));
  EXPECT_EQ(50, gdImageSY(thumb.get()));
  EXPECT_EQ(kSecondCover, qlimg::ColorAt(thumb.get(), 100, 25));
}

// Damaged tags (bytes of the header and first frame overwritten) must always
// end in a thumbnail, a cover or the audio picture.
TEST_F(Mp3HandlerTest, DamagedTagsAlwaysGetAThumbnail) {
  for (int version : {3, 4}) {
    Bytes const good =
        qlimg::Mp3File(version, {ApicFrame(version, "image/png", Cover(Format::kPng)),
                                 ApicFrame(version, "image/jpeg", Cover(Format::kJpeg))});
    std::uint32_t seed = 99 + version;
    for (int round = 0; round < 150; ++round) {
      Bytes damaged = good;
      for (int i = 0; i <= round % 8; ++i) {
        seed = seed * 1103515245u + 12345u;
        damaged[(seed >> 8) % 200] = static_cast<unsigned char>(seed >> 24);
      }
      qlimg::WriteFile(data_.path, damaged);
      ASSERT_TRUE(provider_.HandleAudioMp3(data_)) << "version " << version << " round " << round;
      EXPECT_TRUE(qlimg::DecodeThumbnail(data_));
    }
  }
}
