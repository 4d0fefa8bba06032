// The guards in front of the decoders: the header probe's size of every
// format (and no size from any cut header) and the ID3 tag probe.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/ql_unique_fd.h"
#include "thumbnail/decode/probe/ql_id3_tag_probe.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"
#include "thumbnail_fixture.h"

namespace {

using qltest::Bytes;
using qltest::Format;

unsigned const kAll =
    kQLImageJpeg | kQLImagePng | kQLImageGif | kQLImageBmp | kQLImageWbmp | kQLImageGd2;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (Bytes const& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Big16(std::size_t value) {
  return {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

Bytes Bmp(std::uint32_t info_size, std::uint32_t width, std::uint32_t height) {
  Bytes bmp = {'B', 'M'};
  bmp.resize(14, 0);
  auto put = [&bmp](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) bmp.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  put(info_size, 4);
  put(width, info_size == 12 ? 2 : 4);
  put(height, info_size == 12 ? 2 : 4);
  bmp.resize(14 + info_size, 0);
  return bmp;
}

// Each format's size is read, only when that format is asked for; every cut
// of the header, down to nothing, gives no size without reading past the data.
TEST(ImageHeaderProbeTest, EveryFormatIsReadAndEveryCutHeaderHasNoSize) {
  std::uint32_t const kWidth = 291;  // over 255: both bytes of a 16-bit field count
  qltest::Picture picture = qltest::CoordinatePicture(kWidth, 45);
  Bytes const jpeg = qltest::Encode(picture.get(), Format::kJpeg);
  Bytes gif87 = qltest::Encode(picture.get(), Format::kGif);
  gif87[4] = '7';  // the older version, which old files still carry
  struct {
    Bytes bytes;
    unsigned format;
  } const cases[] = {
      {qltest::InsertSegment(
           jpeg, qltest::ExifSegment(qltest::ByteOrder::kMotorola, {qltest::OrientationEntry(3)})),
       kQLImageJpeg},
      {qltest::Encode(picture.get(), Format::kPng), kQLImagePng},
      {qltest::Encode(picture.get(), Format::kGif), kQLImageGif},
      {gif87, kQLImageGif},
      {qltest::Encode(picture.get(), Format::kBmp), kQLImageBmp},
      {Bmp(12, kWidth, 45), kQLImageBmp},
      {Bmp(16, kWidth, 45), kQLImageBmp},  // the shortest header with 32-bit sizes
      {qltest::Encode(picture.get(), Format::kWbmp), kQLImageWbmp},
      // libgd's GD2 header: signature, version 2, size, chunk 64, raw, 1 x 1 chunks.
      {Join({{'g', 'd', '2', 0, 0, 2}, Big16(kWidth), Big16(45), {0, 64, 0, 1, 0, 1, 0, 1}}),
       kQLImageGd2}};
  for (auto const& c : cases) {
    SCOPED_TRACE(ImageFormatName(c.format));
    QLImageHeader header;
    ASSERT_TRUE(ProbeImageBytes(c.bytes.data(), c.bytes.size(), kAll, &header));
    EXPECT_EQ(c.format, header.format);
    EXPECT_EQ(kWidth * 45u, header.pixels());
    EXPECT_EQ(kWidth, header.width);
    EXPECT_FALSE(ProbeImageBytes(c.bytes.data(), c.bytes.size(), kAll & ~c.format, &header));
    std::size_t needed = c.bytes.size();
    while (needed > 0 && ProbeImageBytes(c.bytes.data(), needed - 1, kAll, &header)) --needed;
    for (std::size_t cut = 0; cut < needed; ++cut) {
      Bytes const part(c.bytes.begin(), c.bytes.begin() + cut);
      EXPECT_FALSE(ProbeImageBytes(cut ? part.data() : nullptr, cut, kAll, &header)) << cut;
    }
    EXPECT_LT(needed, 1000u) << "only the header is read";
  }
}

// A 10-byte ID3v2 header ("ID3") or footer ("3DI") with a synchsafe size.
Bytes TagEnd(char const* id, std::uint32_t body, unsigned char flags = 0x00,
             unsigned char version = 4) {
  Bytes bytes = {static_cast<unsigned char>(id[0]),
                 static_cast<unsigned char>(id[1]),
                 static_cast<unsigned char>(id[2]),
                 version,
                 0x00,
                 flags};
  for (int shift = 21; shift >= 0; shift -= 7) bytes.push_back((body >> shift) & 0x7f);
  return bytes;
}

TEST(Id3TagProbeTest, TagsInsideTheFilePassAndOverrunsAreCaught) {
  unsigned char const kFooter = 0x10;
  std::uint32_t const kLargest = 0x0fffffff;  // 256 MiB - 1, what 28 bits hold
  Bytes id3v1 = {'T', 'A', 'G'};
  id3v1.resize(128, ' ');
  auto zeros = [](std::size_t count) { return Bytes(count, 0x00); };
  // Compressed frames declare their inflated size after their header: 2 GiB, 4 KiB.
  Bytes const apic = {'A', 'P', 'I', 'C', 0, 0, 0, 8, 0x00, 0x80};  // version 2.3
  Bytes const huge = {0x80, 0x80, 0xc0, 0x80, 0x78, 0x9c, 0, 0};
  Bytes const small = {0, 0, 0x10, 0, 0x78, 0x9c, 0, 0};
  Bytes const unsynchronised = {'T', 'I',  'T', '2',  0, 0,    0, 4,    0,
                                0,   0xff, 0,   0xff, 0, 0xff, 0, 0xff, 0};
  struct {
    char const* name;
    Bytes file;
    bool fits;
  } const cases[] = {
      {"empty file", Bytes(), true},
      {"header with its body and audio", Join({TagEnd("ID3", 100), zeros(500)}), true},
      {"header with its body", Join({TagEnd("ID3", 100), zeros(100)}), true},
      {"header one byte short", Join({TagEnd("ID3", 100), zeros(99)}), false},
      {"14-byte file claiming 256 MiB", Join({TagEnd("ID3", kLargest), zeros(4)}), false},
      {"announced footer counts", Join({TagEnd("ID3", 100, kFooter), zeros(100)}), false},
      {"announced footer present",
       Join({TagEnd("ID3", 100, kFooter), zeros(100), TagEnd("3DI", 100, kFooter)}), true},
      {"version 0xff is no tag",
       Join({{'I', 'D', '3', 0xff, 0, 0, 0x7f, 0x7f, 0x7f, 0x7f}, zeros(4)}), true},
      {"high size bit is no tag",
       Join({{'I', 'D', '3', 4, 0, 0, 0x80, 0x7f, 0x7f, 0x7f}, zeros(4)}), true},
      {"header cut short", {'I', 'D', '3', 0x04, 0x00}, true},
      {"appended tag found from its footer",
       Join({zeros(300), TagEnd("ID3", 50, kFooter), zeros(50), TagEnd("3DI", 50)}), true},
      {"footer reaching before the file", Join({zeros(30), TagEnd("3DI", kLargest)}), false},
      {"footer pointing at a header that overruns",
       Join({zeros(300), TagEnd("ID3", kLargest), zeros(50), TagEnd("3DI", 50)}), false},
      {"footer pointing at no header", Join({zeros(300), TagEnd("3DI", 50)}), true},
      {"footer before an ID3v1 tag",
       Join({zeros(300), TagEnd("ID3", 50), zeros(50), TagEnd("3DI", 50), id3v1}), true},
      {"overrunning footer before an ID3v1 tag", Join({zeros(300), TagEnd("3DI", kLargest), id3v1}),
       false},
      {"frame inflating to 2 GiB", Join({TagEnd("ID3", 18, 0, 3), apic, huge}), false},
      {"frame inflating to 4 KiB", Join({TagEnd("ID3", 18, 0, 3), apic, small}), true},
      {"version 2.4 length after a group byte",
       Join({TagEnd("ID3", 19),
             {'A', 'P', 'I', 'C', 0, 0, 0, 9, 0, 0x49, 1, 0x7f, 0x7f, 0x7f, 0x7f},
             zeros(4)}),
       false},
      {"frame inflating to 2 GiB, its last byte alone in the second 64 KiB read",
       Join({TagEnd("ID3", 65537, 0, 3),
             {'T', 'I', 'T', '2', 0, 0, 0xff, 0xe9, 0, 0},
             zeros(65513),
             apic,
             Bytes(huge.begin(), huge.begin() + 4)}),
       false},
      {"frames walked after undoing unsynchronisation",
       Join({TagEnd("ID3", 36, 0x80, 3), unsynchronised, apic, huge}), false},
  };
  QLTempDir temp;
  for (auto const& c : cases) {
    ASSERT_TRUE(qltest::WriteBytes(temp.File("probe.mp3"), c.file));
    EXPECT_EQ(c.fits, Id3TagsFitFile(temp.File("probe.mp3"))) << c.name;
  }
  QLUniqueFd const device(open("/dev/null", O_RDONLY));  // empty, so no tag could overrun it
  EXPECT_FALSE(Id3TagsFitFile(device.get())) << "only a regular file is checked";
}

}  // namespace
