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

TEST_F(Mp3HandlerTest, OnlyUndecodablePicturesGetTheAudioPicture) {
  WriteMp3(4,
           {ApicFrame(4, "image/png", Bytes{'x', 'y', 'z'}), ApicFrame(4, "image/gif", Bytes())});
  data_.save_to_cache = true;
  ASSERT_TRUE(provider_.HandleAudioMp3(data_));
  ExpectThumbnail(qltest::kAudioColor, 24, false);
}
