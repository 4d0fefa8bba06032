// Reading a picture's size from its header: every format libgd writes, the
// JPEG marker walk, the odd corners of BMP and WBMP sizes, and hostile or cut
// headers that must give no size rather than a read past the data.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "test_support.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_header_probe.h"

namespace {

using qltest::Bytes;
using qltest::Format;

unsigned const kAll =
    kQLImageJpeg | kQLImagePng | kQLImageGif | kQLImageBmp | kQLImageWbmp | kQLImageGd2;

bool Probe(Bytes const& bytes, unsigned formats, QLImageHeader* header) {
  return ProbeImageBytes(bytes.data(), bytes.size(), formats, header);
}

void Append(Bytes* out, Bytes const& more) { out->insert(out->end(), more.begin(), more.end()); }

void PutBigEndian16(Bytes* out, std::size_t value) {
  out->push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
  out->push_back(static_cast<unsigned char>(value & 0xFF));
}

// libgd's GD2 header (its writer may be built without GD2): signature,
// version 2, big-endian size, chunk size 64, raw format, one chunk each way.
Bytes Gd2(gdImagePtr image) {
  Bytes gd2 = {'g', 'd', '2', 0, 0, 2};
  PutBigEndian16(&gd2, gdImageSX(image));
  PutBigEndian16(&gd2, gdImageSY(image));
  Append(&gd2, {0, 64, 0, 1, 0, 1, 0, 1});
  return gd2;
}

// A marker segment: 0xFF, the marker, the big-endian length and the payload.
Bytes Segment(unsigned char marker, Bytes const& payload) {
  Bytes segment = {0xFF, marker};
  PutBigEndian16(&segment, payload.size() + 2);
  Append(&segment, payload);
  return segment;
}

// A frame header payload: precision 8, height, width, one component.
Bytes FramePayload(int width, int height) {
  Bytes frame = {8};
  PutBigEndian16(&frame, height);
  PutBigEndian16(&frame, width);
  Append(&frame, {1, 1, 0x11, 0});
  return frame;
}

// The start-of-image marker followed by `rest`.
Bytes Jpeg(Bytes const& rest) {
  Bytes jpeg = {0xFF, 0xD8};
  Append(&jpeg, rest);
  return jpeg;
}

Bytes BmpHeader(std::uint32_t info_size, std::uint32_t width, std::uint32_t height) {
  Bytes bmp = {'B', 'M'};
  bmp.resize(14, 0);
  auto put32 = [&bmp](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  put32(info_size);
  if (info_size == 12) {
    bmp.push_back(width & 0xFF);
    bmp.push_back((width >> 8) & 0xFF);
    bmp.push_back(height & 0xFF);
    bmp.push_back((height >> 8) & 0xFF);
  } else {
    put32(width);
    put32(height);
  }
  bmp.resize(14 + info_size, 0);
  return bmp;
}

// libgd's multi-byte integer for `value`.
Bytes MultiByte(std::uint32_t value) {
  Bytes out;
  out.insert(out.begin(), value & 0x7F);
  for (value >>= 7; value != 0; value >>= 7) {
    out.insert(out.begin(), static_cast<unsigned char>(0x80 | (value & 0x7F)));
  }
  return out;
}

TEST(ImageHeaderProbeTest, ReadsTheSizeOfEveryFormatLibgdWrites) {
  ScopedGdImage picture = qltest::CoordinatePicture(123, 45);
  struct {
    Bytes bytes;
    unsigned format;
  } const cases[] = {{qltest::Encode(picture.get(), Format::kJpeg), kQLImageJpeg},
                     {qltest::Encode(picture.get(), Format::kPng), kQLImagePng},
                     {qltest::Encode(picture.get(), Format::kGif), kQLImageGif},
                     {qltest::Encode(picture.get(), Format::kBmp), kQLImageBmp},
                     {qltest::Encode(picture.get(), Format::kWbmp), kQLImageWbmp},
                     {Gd2(picture.get()), kQLImageGd2}};
  for (auto const& c : cases) {
    SCOPED_TRACE(ImageFormatName(c.format));
    QLImageHeader header;
    ASSERT_TRUE(Probe(c.bytes, kAll, &header));
    EXPECT_EQ(c.format, header.format);
    EXPECT_EQ(123u, header.width);
    EXPECT_EQ(45u, header.height);
    EXPECT_EQ(123u * 45u, header.pixels());
    // Only the formats asked for are recognised.
    EXPECT_FALSE(Probe(c.bytes, kAll & ~c.format, &header));
  }
}

TEST(ImageHeaderProbeTest, FileProbeLeavesTheFileAtItsStartForTheDecoder) {
  QLTempDir folder;
  ScopedGdImage picture = qltest::CoordinatePicture(70, 20);
  std::string const path = folder.File("p.png");
  qltest::WriteFile(path, qltest::Encode(picture.get(), Format::kPng));
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, file);
  QLImageHeader header;
  // JPEG is tried first and reads into the file before PNG matches.
  EXPECT_TRUE(ProbeImageFile(file, kQLImageJpeg | kQLImagePng, &header));
  EXPECT_EQ(kQLImagePng, header.format);
  EXPECT_EQ(0, std::ftell(file));
  ScopedGdImage decoded(gdImageCreateFromPng(file));
  std::fclose(file);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(70, gdImageSX(decoded.get()));
}

// Application, comment and table segments, stray bytes between segments and
// fill bytes before a marker are walked past as libjpeg does; the size is the
// one libgd's decoder then reports.
TEST(ImageHeaderProbeTest, JpegWalkAgreesWithTheDecoderPastSegmentsAndStrayBytes) {
  ScopedGdImage picture = qltest::CoordinatePicture(90, 61);
  Bytes const plain = qltest::Encode(picture.get(), Format::kJpeg);
  Bytes jpeg(plain.begin(), plain.begin() + 2);  // start of image
  Append(&jpeg, qltest::ExifSegment(qltest::ByteOrder::kIntel, {qltest::OrientationEntry(6)}));
  // A comment whose text looks like a frame header must not be read as one.
  Bytes fake_frame = {0xFF, 0xC0, 0x00, 0x0B};
  Append(&fake_frame, FramePayload(9999, 9999));
  Append(&jpeg, Segment(0xFE, fake_frame));
  Append(&jpeg, {0x12, 0x34, 0x00, 0xFF, 0xFF});  // stray bytes, then fill bytes
  jpeg.insert(jpeg.end(), plain.begin() + 3,
              plain.end());  // rest, from the next marker byte
  QLImageHeader header;
  ASSERT_TRUE(Probe(jpeg, kQLImageJpeg, &header));
  EXPECT_EQ(90u, header.width);
  EXPECT_EQ(61u, header.height);
  ScopedGdImage decoded(gdImageCreateFromJpegPtr(static_cast<int>(jpeg.size()), jpeg.data()));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(90, gdImageSX(decoded.get()));
  EXPECT_EQ(61, gdImageSY(decoded.get()));
}

// Every start-of-frame marker counts (progressive, lossless, arithmetic...),
// but the three markers in the same range that are not frames do not.
TEST(ImageHeaderProbeTest, JpegFrameMarkersAndTheThreeLookAlikes) {
  for (int marker = 0xC0; marker <= 0xCF; ++marker) {
    SCOPED_TRACE(marker);
    Bytes const jpeg = Jpeg(Segment(static_cast<unsigned char>(marker), FramePayload(300, 200)));
    QLImageHeader header;
    bool const frame = marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    ASSERT_EQ(frame, Probe(jpeg, kQLImageJpeg, &header));
    if (frame) {
      EXPECT_EQ(300u, header.width);
      EXPECT_EQ(200u, header.height);
    }
  }
  // Behind a look-alike, the real frame is found.
  for (unsigned char const look_alike : {0xC4, 0xC8, 0xCC}) {
    Bytes behind = Jpeg(Segment(look_alike, FramePayload(7, 7)));
    Append(&behind, Segment(0xC2, FramePayload(65500, 65500)));
    QLImageHeader header;
    ASSERT_TRUE(Probe(behind, kQLImageJpeg, &header)) << int{look_alike};
    EXPECT_EQ(65500u, header.width);
  }
}

TEST(ImageHeaderProbeTest, JpegWithoutAReadableFrameHasNoSize) {
  struct {
    char const* name;
    Bytes bytes;
  } const cases[] = {
      {"scan before any frame", Jpeg(Segment(0xDA, {1, 2, 3}))},
      {"end of image before any frame", Jpeg({0xFF, 0xD9})},
      {"length below its own two bytes", Jpeg({0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xC0})},
      {"segment longer than the data", Jpeg({0xFF, 0xE1, 0xFF, 0xFF, 0x00})},
      {"frame too short to hold a size", Jpeg(Segment(0xC0, {8, 1}))},
      {"fill bytes to the end", Bytes(5000, 0xFF)},
  };
  for (auto const& c : cases) {
    QLImageHeader header;
    EXPECT_FALSE(Probe(c.bytes, kAll, &header)) << c.name;
    EXPECT_EQ(0u, header.format) << c.name;
  }
}

// Every cut of a valid header, down to nothing, is refused without reading
// past the data (the address sanitizer build watches the reads).
TEST(ImageHeaderProbeTest, EveryCutHeaderHasNoSize) {
  ScopedGdImage picture = qltest::CoordinatePicture(33, 22);
  Bytes exif_jpeg = qltest::InsertSegment(
      qltest::Encode(picture.get(), Format::kJpeg),
      qltest::ExifSegment(qltest::ByteOrder::kMotorola, {qltest::OrientationEntry(3)}));
  Bytes wbmp = {0, 0x80, 0x80, 0};
  Append(&wbmp, MultiByte(300));
  Append(&wbmp, MultiByte(200));
  Bytes const full[] = {exif_jpeg,
                        qltest::Encode(picture.get(), Format::kPng),
                        qltest::Encode(picture.get(), Format::kGif),
                        BmpHeader(40, 33, 22),
                        BmpHeader(12, 33, 22),
                        wbmp,
                        Gd2(picture.get())};
  for (Bytes const& bytes : full) {
    QLImageHeader header;
    ASSERT_TRUE(Probe(bytes, kAll, &header));
    // The probe needs at most the bytes up to the frame header.
    std::size_t needed = bytes.size();
    while (needed > 0 && Probe(Bytes(bytes.begin(), bytes.begin() + needed - 1), kAll, &header)) {
      --needed;
    }
    for (std::size_t cut = 0; cut < needed; ++cut) {
      Bytes const part(bytes.begin(), bytes.begin() + cut);
      EXPECT_FALSE(ProbeImageBytes(cut ? part.data() : nullptr, cut, kAll, &header)) << cut;
    }
    EXPECT_LT(needed, 1000u) << "only the header is read";
  }
}

// A negative height is a top-down picture; its magnitude counts, even at the
// 32-bit minimum. The 12-byte OS/2 header holds 16-bit sizes.
TEST(ImageHeaderProbeTest, BmpSizesCountTheirMagnitude) {
  QLImageHeader header;
  ASSERT_TRUE(Probe(BmpHeader(40, 640, static_cast<std::uint32_t>(-480)), kQLImageBmp, &header));
  EXPECT_EQ(640u, header.width);
  EXPECT_EQ(480u, header.height);
  ASSERT_TRUE(Probe(BmpHeader(124, 0x80000000u, 0x80000000u), kQLImageBmp, &header));
  EXPECT_EQ(0x80000000u, header.width);
  EXPECT_EQ(std::uint64_t{1} << 62, header.pixels());
  ASSERT_TRUE(Probe(BmpHeader(12, 0xFFFF, 1000), kQLImageBmp, &header));
  EXPECT_EQ(1u, header.width);
  EXPECT_EQ(1000u, header.height);
  EXPECT_FALSE(Probe(BmpHeader(8, 10, 10), kQLImageBmp, &header));
}

// A WBMP has no signature: type 0, header bytes while their high bit is
// set, then multi-byte width and height. libgd decodes the size we read.
TEST(ImageHeaderProbeTest, WbmpMultiByteSizesMatchTheDecoder) {
  for (std::uint32_t const width : {1u, 127u, 128u, 300u, 20000u}) {
    SCOPED_TRACE(width);
    Bytes wbmp = {0, 0x81, 0x00};  // type 0, a header with an extension byte
    Append(&wbmp, MultiByte(width));
    Append(&wbmp, MultiByte(3));
    Bytes decodable = wbmp;
    decodable.resize(wbmp.size() + 3 * ((width + 7) / 8), 0xFF);
    QLImageHeader header;
    ASSERT_TRUE(Probe(wbmp, kQLImageWbmp, &header));
    EXPECT_EQ(width, header.width);
    EXPECT_EQ(3u, header.height);
    ScopedGdImage decoded(
        gdImageCreateFromWBMPPtr(static_cast<int>(decodable.size()), decodable.data()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(static_cast<int>(width), gdImageSX(decoded.get()));
  }
  QLImageHeader header;
  EXPECT_FALSE(Probe(Bytes{1, 0, 10, 10}, kQLImageWbmp, &header));  // type 1
  // The type is one byte; a multi-byte zero is no WBMP to the decoder.
  Bytes const long_type = {0x80, 0, 0, 10, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(Probe(long_type, kQLImageWbmp, &header));
  EXPECT_FALSE(gdImageCreateFromWBMPPtr(static_cast<int>(long_type.size()),
                                        const_cast<unsigned char*>(long_type.data())));
  // Sizes the decoder would take as negative count as nothing.
  Bytes negative = {0, 0};
  Append(&negative, MultiByte(0x80000000u));
  Append(&negative, MultiByte(5));
  ASSERT_TRUE(Probe(negative, kQLImageWbmp, &header));
  EXPECT_EQ(0u, header.pixels());
}

TEST(ImageHeaderProbeTest, OverLimitLogsTheNameFormatAndSizeOnly) {
  QLImageHeader header;
  header.format = kQLImagePng;
  header.width = 5000;
  header.height = 4000;
  {
    qltest::LogCapture log;
    EXPECT_FALSE(SourcePictureOverLimit(header, 20000000, "\"a.png\""));
    EXPECT_EQ("", log.text());
  }
  qltest::LogCapture log;
  EXPECT_TRUE(SourcePictureOverLimit(header, 19999999, "\"a.png\""));
  EXPECT_TRUE(log.Contains("ERROR:"));
  EXPECT_TRUE(log.Contains("\"a.png\" is a PNG picture of 5000x4000 pixels"));
  EXPECT_FALSE(SourcePictureOverLimit(QLImageHeader(), 0, "unrecognised"));
}

}  // namespace
