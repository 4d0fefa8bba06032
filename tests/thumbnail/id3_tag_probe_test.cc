// Id3TagsFitFile against tag headers and footers written byte by byte, and
// the MP3 handler on a tiny file whose tag claims a quarter of a gigabyte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "image_fixtures.h"
#include "thumbnail/ql_id3_tag_probe.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qlimg::Bytes;

// A 10-byte header ("ID3") or footer ("3DI") with a synchsafe body size.
Bytes TagEnd(char const* id, std::uint32_t body, unsigned char flags = 0x00) {
  Bytes bytes(id, id + 3);
  bytes.push_back(0x04);  // version
  bytes.push_back(0x00);  // revision
  bytes.push_back(flags);
  for (int shift = 21; shift >= 0; shift -= 7) {
    bytes.push_back(static_cast<unsigned char>((body >> shift) & 0x7f));
  }
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (Bytes const& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Zeros(std::size_t count) { return Bytes(count, 0x00); }

Bytes Id3v1() {
  Bytes tag = {'T', 'A', 'G'};
  tag.resize(128, ' ');
  return tag;
}

unsigned char const kFooterFlag = 0x10;
std::uint32_t const kLargestBody = 0x0fffffff;  // 256 MiB - 1, what 28 bits hold

struct ProbeCase {
  char const* name;
  Bytes file;
  bool fits;
};

class Id3TagProbeTest : public testing::Test {
 protected:
  bool Fits(Bytes const& bytes) {
    std::string const path = folder_.File("probe.mp3");
    qlimg::WriteFile(path, bytes);
    return Id3TagsFitFile(path);
  }

  qlimg::ScratchFolder folder_;
};

}  // namespace

TEST_F(Id3TagProbeTest, TagsInsideTheFilePassAndOverrunsAreCaught) {
  ProbeCase const cases[] = {
      {"empty file", Bytes(), true},
      {"audio only", Join({{0xff, 0xfb, 0x90, 0x00}, Zeros(400)}), true},
      {"header with its body", Join({TagEnd("ID3", 100), Zeros(100)}), true},
      {"header with its body and audio", Join({TagEnd("ID3", 100), Zeros(500)}), true},
      {"header one byte short", Join({TagEnd("ID3", 100), Zeros(99)}), false},
      {"14-byte file claiming 256 MiB", Join({TagEnd("ID3", kLargestBody), Zeros(4)}), false},
      {"announced footer counts", Join({TagEnd("ID3", 100, kFooterFlag), Zeros(100)}), false},
      {"announced footer present",
       Join({TagEnd("ID3", 100, kFooterFlag), Zeros(100), TagEnd("3DI", 100, kFooterFlag)}), true},
      {"version 0xff is no tag",
       Join({{'I', 'D', '3', 0xff, 0x00, 0x00, 0x7f, 0x7f, 0x7f, 0x7f}, Zeros(4)}), true},
      {"high size bit is no tag",
       Join({{'I', 'D', '3', 0x04, 0x00, 0x00, 0x80, 0x7f, 0x7f, 0x7f}, Zeros(4)}), true},
      {"header cut short", {'I', 'D', '3', 0x04, 0x00}, true},
      {"appended tag found from its footer",
       Join({Zeros(300), TagEnd("ID3", 50, kFooterFlag), Zeros(50), TagEnd("3DI", 50)}), true},
      {"footer reaching before the file", Join({Zeros(30), TagEnd("3DI", kLargestBody)}), false},
      {"footer pointing at a header that overruns",
       Join({Zeros(300), TagEnd("ID3", kLargestBody), Zeros(50), TagEnd("3DI", 50)}), false},
      {"footer pointing at no header", Join({Zeros(300), TagEnd("3DI", 50)}), true},
      {"footer before an ID3v1 tag",
       Join({Zeros(300), TagEnd("ID3", 50), Zeros(50), TagEnd("3DI", 50), Id3v1()}), true},
      {"overrunning footer before an ID3v1 tag",
       Join({Zeros(300), TagEnd("3DI", kLargestBody), Id3v1()}), false},
  };
  for (ProbeCase const& c : cases) {
    EXPECT_EQ(c.fits, Fits(c.file)) << c.name;
  }
}

TEST_F(Id3TagProbeTest, UnreadablePathsDoNotPass) {
  EXPECT_FALSE(Id3TagsFitFile(folder_.File("missing.mp3")));
  EXPECT_FALSE(Id3TagsFitFile(folder_.path()));
}

// The handler used to hand such a file to libid3tag, which reserved the
// claimed size before failing; the probe table above shows the file is now
// caught first. What the caller sees must not change: the audio picture.
TEST(Mp3HandlerLimitTest, TinyFileClaimingAHugeTagStillGetsTheAudioPicture) {
  qlimg::ScratchFolder folder;
  qlimg::WriteDefaultPictures(folder.path());
  QLThumbnailData data;
  data.default_thumbnail_folder = folder.path();
  data.path = folder.File("tiny.mp3");
  data.width = 40;
  data.height = 40;
  data.full_screen = false;
  data.save_to_cache = true;
  qlimg::WriteFile(data.path, Join({TagEnd("ID3", kLargestBody), Zeros(4)}));

  QLThumbnailProvider provider;
  ASSERT_TRUE(provider.HandleAudioMp3(data));
  EXPECT_FALSE(data.save_to_cache);
  ScopedGdImage thumb = qlimg::DecodeThumbnail(data);
  ASSERT_TRUE(thumb);
  EXPECT_TRUE(qlimg::Near(qlimg::ColorAt(thumb.get(), 20, 20), qlimg::kAudioColor, 8));
}
