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
