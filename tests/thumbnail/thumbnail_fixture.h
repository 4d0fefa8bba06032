// The fixture of the thumbnail service tests: a scratch folder holding the
// five default pictures, a log capture, a provider and a request record
// (40 x 30, box mode) whose cache folder "cache" in the scratch folder is not
// made yet; and the readers of a finished record. Used by the test thread;
// threads a test starts may share the provider until it joins them.
#ifndef QUORLIN_TESTS_THUMBNAIL_THUMBNAIL_FIXTURE_H_
#define QUORLIN_TESTS_THUMBNAIL_THUMBNAIL_FIXTURE_H_

#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <ctime>
#include <string>
#include <vector>

#include "support/ql_log_capture.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace qltest {

inline Bytes ThumbnailBytes(QLThumbnailData const& data) {
  if (!data.thumbnail || data.thumbnail_size <= 0) return Bytes();
  unsigned char const* bytes = static_cast<unsigned char const*>(data.thumbnail.get());
  return Bytes(bytes, bytes + data.thumbnail_size);
}

inline Picture DecodePng(Bytes const& png) {
  if (png.empty()) return Picture();
  return Picture(gdImageCreateFromPngPtr(static_cast<int>(png.size()),
                                         const_cast<unsigned char*>(png.data())));
}

// The centre colour of a PNG; {-1, -1, -1} when the bytes are none.
inline Rgb CentreColour(Bytes const& png) {
  Picture const image = DecodePng(png);
  if (!image) return Rgb{-1, -1, -1};
  return ColorAt(image.get(), gdImageSX(image.get()) / 2, gdImageSY(image.get()) / 2);
}

inline void SetMtime(std::string const& path, std::time_t when) {
  struct utimbuf const times = {when, when};
  EXPECT_EQ(0, utime(path.c_str(), &times)) << path;
}

// Where a picture carrying EXIF `orientation` (2..8; others: unturned) shows
// stored pixel (x, y) of a W x H picture.
inline void Upright(int orientation, int W, int H, int* x, int* y) {
  int const sx = *x, sy = *y;
  bool const flip_x = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
  bool const flip_y = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
  int const fx = flip_x ? W - 1 - sx : sx, fy = flip_y ? H - 1 - sy : sy;
  bool const swap = orientation >= 5 && orientation <= 8;
  *x = swap ? fy : fx;
  *y = swap ? fx : fy;
}

// Every pixel of `result` is the one of a W x H CoordinatePicture that
// `orientation` puts there.
inline void ExpectOriented(gdImagePtr result, int orientation, int W, int H) {
  bool const quarter = orientation >= 5 && orientation <= 8;
  ASSERT_EQ(quarter ? H : W, gdImageSX(result));
  ASSERT_EQ(quarter ? W : H, gdImageSY(result));
  int wrong = 0;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      int ux = x, uy = y, fx = -1, fy = -1;
      Upright(orientation, W, H, &ux, &uy);
      if (!CoordinateOf(ColorAt(result, ux, uy), &fx, &fy) || fx != x || fy != y) ++wrong;
    }
  }
  EXPECT_EQ(0, wrong) << "pixels misplaced for orientation " << orientation;
}

class ServiceTest : public testing::Test {
 protected:
  ServiceTest() {
    EXPECT_TRUE(WriteDefaultPictures(temp_.path()));
    data_.default_thumbnail_folder = temp_.path();
    data_.thumbnail_folder = cache_;
    data_.width = 40;
    data_.height = 30;
  }

  // Writes a file named `name` and makes it the request's path.
  std::string Write(std::string const& name, Bytes const& bytes) {
    data_.path = temp_.File(name);
    EXPECT_TRUE(WriteBytes(data_.path, bytes));
    return data_.path;
  }

  testing::AssertionResult Logged(std::string const& needle) const {
    if (log_.Count(needle) > 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no log line holds \"" << needle << "\":\n"
                                       << log_.Text();
  }

  QLTempDir temp_;
  QLLogCapture log_;
  QLThumbnailProvider provider_;
  std::string cache_ = temp_.File("cache");
  QLThumbnailData data_;
};

}  // namespace qltest

#endif  // QUORLIN_TESTS_THUMBNAIL_THUMBNAIL_FIXTURE_H_
