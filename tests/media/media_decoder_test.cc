// The helper's decoders on real files: videos made by ffmpeg (skipped when
// it is missing) and a hand-written DNG.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/ql_unique_fd.h"
#include "gtest/gtest.h"
#include "media/ql_raw_preview.h"
#include "media/ql_video_frame.h"
#include "support/ql_dng_sample.h"
#include "support/ql_temp_dir.h"
#include "support/ql_video_sample.h"

namespace {

using qltest::Bytes;
using qltest::Rgb;

using qltest::HaveFfmpeg;

bool Run(std::string const& command) {
  return std::system((command + " 2>/dev/null").c_str()) == 0;
}

std::string MakeVideo(QLTempDir const& dir, double seconds, int rotate) {
  return qltest::MakeMarkedVideo(dir.path(), seconds, rotate);
}

Rgb PixelAt(std::vector<std::uint8_t> const& rgb, int width, int x, int y) {
  std::size_t const i = (static_cast<std::size_t>(y) * width + x) * 3;
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

// The EXIF orientation that ffmpeg's own turned decode of `path` implies:
// where the blue block ends up in its first frame.
int ReferenceOrientation(QLTempDir const& dir, std::string const& path) {
  std::string const ppm = dir.File("reference.ppm");
  if (!Run("ffmpeg -v error -y -i '" + path + "' -frames:v 1 -c:v ppm -f image2 '" + ppm + "'")) {
    return 0;
  }
  Bytes const bytes = qltest::ReadBytes(ppm);
  std::string const header(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 15));
  int w = 0;
  int h = 0;
  if (std::sscanf(header.c_str(), "P6 %d %d 255", &w, &h) != 2 || w <= 10 || h <= 10 ||
      bytes.size() < static_cast<std::size_t>(w) * h * 3) {
    return 0;
  }
  std::vector<std::uint8_t> const rgb(bytes.end() - w * h * 3, bytes.end());
  bool const tall = h > w;
  Rgb const blue = {0, 0, 255};
  bool const top_left = qltest::Near(PixelAt(rgb, w, 5, 5), blue);
  bool const top_right = qltest::Near(PixelAt(rgb, w, w - 6, 5), blue);
  bool const bottom_left = qltest::Near(PixelAt(rgb, w, 5, h - 6), blue);
  bool const bottom_right = qltest::Near(PixelAt(rgb, w, w - 6, h - 6), blue);
  if (!tall && top_left) return 1;
  if (!tall && bottom_right) return 3;
  if (tall && top_right) return 6;
  if (tall && bottom_left) return 8;
  return 0;
}

struct VideoCase {
  char const* name;
  double seconds;
  int rotate;
  Rgb background;  // of the frame chosen: green from 10% of a 3 s video on
};

class VideoFrameTest : public ::testing::TestWithParam<VideoCase> {};

TEST_P(VideoFrameTest, TakesTheFrameAtTenPercentWithItsRotation) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  VideoCase const& row = GetParam();
  QLTempDir dir;
  std::string const path = MakeVideo(dir, row.seconds, row.rotate);
  ASSERT_FALSE(path.empty());
  int const expected_orientation = ReferenceOrientation(dir, path);
  ASSERT_NE(0, expected_orientation) << "ffmpeg's reference decode shows no known turn";

  QLUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  QLVideoFrameRequest request;
  request.max_source_pixels = 320 * 240;
  request.box_width = 160;
  request.box_height = 120;
  request.max_output_pixels = 1 << 20;
  QLMediaAnswer answer;
  std::string error;
  ASSERT_TRUE(ExtractVideoFrame(fd.get(), request, &answer, &error)) << error;

  EXPECT_EQ(expected_orientation, answer.orientation);
  EXPECT_EQ(320u, answer.original_width);
  EXPECT_EQ(240u, answer.original_height);
  // Scaled down, but still covering the box.
  EXPECT_LT(answer.width, 320u);
  EXPECT_GE(answer.width, 160u);
  EXPECT_GE(answer.height, 120u);
  int const w = static_cast<int>(answer.width);
  int const h = static_cast<int>(answer.height);
  EXPECT_TRUE(qltest::Near(PixelAt(answer.payload, w, 3, 3), Rgb{0, 0, 255}));
  Rgb const corner = PixelAt(answer.payload, w, w - 4, h - 4);
  EXPECT_TRUE(qltest::Near(corner, row.background, 40))
      << corner.r << "," << corner.g << "," << corner.b;
}

INSTANTIATE_TEST_SUITE_P(
    Videos, VideoFrameTest,
    ::testing::Values(VideoCase{"TenPercentIn", 3.0, 0, {0, 255, 0}},
                      VideoCase{"UnderASecondTakesTheFirstFrame", 0.5, 0, {255, 0, 0}},
                      VideoCase{"Rotation90", 3.0, 90, {0, 255, 0}},
                      VideoCase{"Rotation180", 3.0, 180, {0, 255, 0}},
                      VideoCase{"Rotation270", 3.0, 270, {0, 255, 0}}),
    [](::testing::TestParamInfo<VideoCase> const& row) { return row.param.name; });

struct RefusedCase {
  char const* name;
  char const* error;  // expected part of the error
};

class VideoRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(VideoRefusalTest, FailsWithItsReason) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  RefusedCase const& row = GetParam();
  QLTempDir dir;
  std::string const video = MakeVideo(dir, 3.0, 0);
  ASSERT_FALSE(video.empty());
  Bytes const whole = qltest::ReadBytes(video);
  std::string path = dir.File("input");
  QLVideoFrameRequest request;
  request.max_source_pixels = 320 * 240;
  request.box_width = 160;
  request.box_height = 120;
  request.max_output_pixels = 1 << 20;
  std::string const name = row.name;
  if (name == "OverTheSourceLimit") {
    request.max_source_pixels = 320 * 240 - 1;
    path = video;
  } else if (name == "Truncated") {
    ASSERT_TRUE(qltest::WriteBytes(path, Bytes(whole.begin(), whole.begin() + 600)));
  } else if (name == "NotAVideo") {
    ASSERT_TRUE(WriteFileText(path, "just some text, no container at all\n"));
  } else {
    // A list naming another file: the helper reads only what it is handed.
    ASSERT_TRUE(WriteFileText(path, "ffconcat version 1.0\nfile plain.mp4\n"));
  }
  QLUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  // The list's relative name would resolve from the working folder.
  QLUniqueFd here(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_EQ(0, chdir(dir.path().c_str()));
  QLMediaAnswer answer;
  std::string error;
  EXPECT_FALSE(ExtractVideoFrame(fd.get(), request, &answer, &error));
  ASSERT_EQ(0, fchdir(here.get()));
  EXPECT_NE(std::string::npos, error.find(row.error)) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Videos, VideoRefusalTest,
    ::testing::Values(RefusedCase{"OverTheSourceLimit", "over the source limit"},
                      RefusedCase{"Truncated", ""}, RefusedCase{"NotAVideo", "not a video"},
                      RefusedCase{"ListNamingAnotherFile", ""}),
    [](::testing::TestParamInfo<RefusedCase> const& row) { return row.param.name; });

struct RawCase {
  char const* name;
  int orientation_tag;  // stored in the DNG
  std::uint64_t max_pixels;
  int expected_orientation;  // 0: refused
};

class RawPreviewTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawPreviewTest, HandsBackTheEmbeddedJpegAndItsTurn) {
  RawCase const& row = GetParam();
  QLTempDir dir;
  Bytes const preview = qltest::Solid(qltest::Format::kJpeg, 64, 48, {200, 30, 30});
  ASSERT_FALSE(preview.empty());
  std::string const path = dir.File("photo.dng");
  ASSERT_TRUE(
      qltest::WriteBytes(path, qltest::DngWithPreview(preview, 64, 48, row.orientation_tag)));
  QLUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  QLMediaAnswer answer;
  std::string error;
  bool const ok = ExtractRawPreview(fd.get(), row.max_pixels, &answer, &error);
  if (row.expected_orientation == 0) {
    EXPECT_FALSE(ok);
    EXPECT_NE(std::string::npos, error.find("over the source limit")) << error;
    return;
  }
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(row.expected_orientation, answer.orientation);
  EXPECT_EQ(preview, Bytes(answer.payload.begin(), answer.payload.end()));
}

INSTANTIATE_TEST_SUITE_P(Dng, RawPreviewTest,
                         ::testing::Values(RawCase{"Upright", 1, 1 << 20, 1},
                                           RawCase{"TurnedClockwise", 6, 1 << 20, 6},
                                           RawCase{"TurnedCounterClockwise", 8, 1 << 20, 8},
                                           RawCase{"PreviewOverTheLimit", 1, 64 * 48 - 1, 0}),
                         [](::testing::TestParamInfo<RawCase> const& row) {
                           return row.param.name;
                         });

TEST(RawPreviewTest, RefusesTruncatedAndForeignFiles) {
  QLTempDir dir;
  Bytes const preview = qltest::Solid(qltest::Format::kJpeg, 64, 48, {200, 30, 30});
  Bytes const dng = qltest::DngWithPreview(preview, 64, 48, 1);
  for (Bytes const& bytes : {Bytes(dng.begin(), dng.begin() + 200), preview, Bytes{'x'}}) {
    ASSERT_TRUE(qltest::WriteBytes(dir.File("bad.dng"), bytes));
    QLUniqueFd fd(open(dir.File("bad.dng").c_str(), O_RDONLY | O_CLOEXEC));
    QLMediaAnswer answer;
    std::string error;
    EXPECT_FALSE(ExtractRawPreview(fd.get(), 1 << 20, &answer, &error)) << bytes.size();
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
