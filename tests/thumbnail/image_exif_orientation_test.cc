// ReadExifOrientation on EXIF blocks written byte by byte.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <cstdint>
#include <memory>

#include "test_support.h"
#include "thumbnail/ql_exif_orientation.h"

namespace {

using qltest::ByteOrder;
using qltest::Bytes;
using qltest::ExifSegment;
using qltest::OrientationEntry;

class ExifOrientationTest : public testing::Test {
 protected:
  void SetUp() override {
    ScopedGdImage picture = qltest::SolidPicture(16, 8, qltest::kBlue);
    jpeg_ = qltest::Encode(picture.get(), qltest::Format::kJpeg);
  }
  int Read(Bytes const& bytes) {
    std::string const path = folder_.File("picture.jpg");
    qltest::WriteFile(path, bytes);
    return ReadExifOrientation(path);
  }
  int ReadWithSegment(Bytes const& segment) { return Read(qltest::InsertSegment(jpeg_, segment)); }

  QLTempDir folder_;
  Bytes jpeg_;
};

}  // namespace

TEST_F(ExifOrientationTest, ReadsEveryValueInBothByteOrders) {
  for (ByteOrder order : {ByteOrder::kMotorola, ByteOrder::kIntel}) {
    for (std::uint16_t value = 1; value <= 8; ++value) {
      EXPECT_EQ(value, ReadWithSegment(ExifSegment(order, {OrientationEntry(value)})))
          << "value " << value << (order == ByteOrder::kIntel ? " II" : " MM");
    }
  }
}

TEST_F(ExifOrientationTest, ValuesFrom0x8000AreNegative) {
  EXPECT_EQ(-32768, ReadWithSegment(ExifSegment(ByteOrder::kIntel, {OrientationEntry(0x8000)})));
  EXPECT_EQ(-1, ReadWithSegment(ExifSegment(ByteOrder::kMotorola, {OrientationEntry(0xFFFF)})));
  EXPECT_EQ(32767, ReadWithSegment(ExifSegment(ByteOrder::kIntel, {OrientationEntry(0x7FFF)})));
}

TEST_F(ExifOrientationTest, OrientationOutsideIfd0IsIgnored) {
  qltest::IfdEntry const resolution_unit = {0x0128, 3, 1, 2};
  Bytes const segment =
      ExifSegment(ByteOrder::kMotorola, {resolution_unit}, {OrientationEntry(6), resolution_unit});
  Bytes const file = qltest::InsertSegment(jpeg_, segment);
  // The fixture only proves something if libexif does see the entry in IFD 1.
  std::unique_ptr<ExifData, void (*)(ExifData*)> data(
      exif_data_new_from_data(segment.data() + 4, static_cast<unsigned>(segment.size() - 4)),
      exif_data_unref);
  ASSERT_TRUE(data);
  ASSERT_NE(nullptr, exif_content_get_entry(data->ifd[EXIF_IFD_1], EXIF_TAG_ORIENTATION));
  EXPECT_EQ(1, Read(file));
}

TEST_F(ExifOrientationTest, FilesWithoutOrientationAreUpright) {
  EXPECT_EQ(1, Read(jpeg_));  // no EXIF block at all
  qltest::IfdEntry const resolution_unit = {0x0128, 3, 1, 2};
  EXPECT_EQ(1, ReadWithSegment(ExifSegment(ByteOrder::kIntel, {resolution_unit})));
  EXPECT_EQ(1, ReadWithSegment(ExifSegment(ByteOrder::kIntel, {{0x0112, 3, 0, 0}})));  // no data
  ScopedGdImage picture = qltest::SolidPicture(4, 4, qltest::kRed);
  EXPECT_EQ(1, Read(qltest::Encode(picture.get(), qltest::Format::kPng)));
  EXPECT_EQ(1, ReadExifOrientation(folder_.File("missing.jpg")));
  EXPECT_EQ(1, ReadExifOrientation(folder_.path()));  // a folder
}

// Damaged and hostile blocks: libexif must reject or repair them, and the
// answer is at worst some 16-bit value. ASan runs catch any over-read.
TEST_F(ExifOrientationTest, DamagedBlocksNeverCrash) {
  Bytes const good = ExifSegment(ByteOrder::kMotorola, {OrientationEntry(6)});
  for (std::size_t cut = 4; cut < good.size(); ++cut) {
    Bytes damaged(good.begin(), good.begin() + cut);
    // Cut short but with the full length still declared: the reader runs on
    // into the JPEG data that follows and may find any value there.
    int value = ReadWithSegment(damaged);
    EXPECT_GE(value, -32768);
    EXPECT_LE(value, 32767);
    // Cut short with a length that says so: the value is there or it is not.
    damaged[2] = static_cast<unsigned char>((cut - 2) >> 8);
    damaged[3] = static_cast<unsigned char>((cut - 2) & 0xFF);
    value = ReadWithSegment(damaged);
    EXPECT_TRUE(value == 1 || value == 6) << "cut at " << cut << ": " << value;
  }
  std::vector<qltest::IfdEntry> const hostile[] = {
      {{0x0112, 3, 0xFFFFFFFF, 0x00000100}},  // huge count, data far outside
      {{0x0112, 1, 1, 0x06000000}},           // one BYTE only
      {{0x0112, 4, 1, 6}},                    // LONG
      {{0x0112, 3, 2, 0xFFFFFFF0}},           // offset past the end
  };
  for (auto const& entries : hostile) {
    for (ByteOrder order : {ByteOrder::kMotorola, ByteOrder::kIntel}) {
      int const value = ReadWithSegment(ExifSegment(order, entries));
      EXPECT_GE(value, -32768);
      EXPECT_LE(value, 32767);
    }
  }
  std::uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    Bytes noisy = good;
    for (int flips = 0; flips < 6; ++flips) {
      seed = seed * 1103515245u + 12345u;
      std::size_t const at = 10 + (seed >> 8) % (noisy.size() - 10);  // keep marker + "Exif"
      noisy[at] = static_cast<unsigned char>(seed >> 24);
    }
    int const value = ReadWithSegment(noisy);
    EXPECT_GE(value, -32768);
    EXPECT_LE(value, 32767);
  }
}
