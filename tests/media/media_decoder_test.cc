// The helper's decoders on files they must refuse or read: videos made by
// ffmpeg (skipped when it is missing), a hand-written DNG, an AVIF made by
// avifenc and an A4 PDF written here; the document helper's sandbox. The frame a good video gives
// and the turned HEIF and AVIF pictures are checked end to end, through the daemon.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "base/ql_unique_fd.h"
#include "gtest/gtest.h"
#include "media/ql_helper_sandbox.h"
#include "media/ql_pdf_page.h"
#include "media/ql_raw_preview.h"
#include "media/ql_still_image.h"
#include "media/ql_video_frame.h"
#include "support/ql_format_samples.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"

namespace {

using qltest::Bytes;

QLFrameRequest Request() {
  QLFrameRequest request;
  request.max_source_pixels = 320 * 240;
  request.box_width = 160;
  request.box_height = 120;
  request.max_output_pixels = 1 << 20;
  return request;
}

struct RefusedCase {
  char const* name;
  char const* error;  // expected part of the error
};

class VideoRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(VideoRefusalTest, FailsWithItsReason) {
  if (!qltest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  RefusedCase const& row = GetParam();
  QLTempDir dir;
  std::string const video = qltest::MakeMarkedVideo(dir.path(), 3.0, 0);
  ASSERT_FALSE(video.empty());
  Bytes const whole = qltest::ReadBytes(video);
  std::string path = dir.File("input");
  QLFrameRequest request = Request();
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
  char const* error;         // expected part of the error when refused
  int keep = 0;              // > 0: the file is cut to this many bytes; -1: the bare JPEG
};

class RawPreviewTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(RawPreviewTest, HandsBackTheEmbeddedJpegAndItsTurn) {
  RawCase const& row = GetParam();
  QLTempDir dir;
  Bytes const preview = qltest::Solid(qltest::Format::kJpeg, 64, 48, {200, 30, 30});
  ASSERT_FALSE(preview.empty());
  std::string const path = dir.File("photo.dng");
  Bytes dng = qltest::DngWithPreview(preview, 64, 48, row.orientation_tag);
  if (row.keep != 0) dng = row.keep > 0 ? Bytes(dng.begin(), dng.begin() + row.keep) : preview;
  ASSERT_TRUE(qltest::WriteBytes(path, dng));
  QLUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  QLMediaAnswer answer;
  std::string error;
  bool const ok = ExtractRawPreview(fd.get(), row.max_pixels, &answer, &error);
  if (row.expected_orientation == 0) {
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.empty());
    EXPECT_NE(std::string::npos, error.find(row.error)) << error;
    return;
  }
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(row.expected_orientation, answer.orientation);
  EXPECT_EQ(preview, Bytes(answer.payload.begin(), answer.payload.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Dng, RawPreviewTest,
    ::testing::Values(RawCase{"Upright", 1, 1 << 20, 1, ""},
                      RawCase{"TurnedClockwise", 6, 1 << 20, 6, ""},
                      RawCase{"TurnedCounterClockwise", 8, 1 << 20, 8, ""},
                      RawCase{"PreviewOverTheLimit", 1, 64 * 48 - 1, 0, "over the source limit"},
                      RawCase{"Truncated", 1, 1 << 20, 0, "", 200},
                      RawCase{"BareJpeg", 1, 1 << 20, 0, "", -1}),
    [](::testing::TestParamInfo<RawCase> const& row) { return row.param.name; });

// A lossless AVIF asked for at its own size comes back as the drawn pixels:
// each 376-byte row of libavif's output fills its allocation, so a write past
// a row lands in the next. One pixel less of source limit refuses it.
TEST(StillImageTest, LosslessAvifComesBackAsDrawnUnlessOverTheLimit) {
  QLTempDir dir;
  std::string const path = dir.File("a.avif");
  std::string const why = qltest::MakeFormatSample({qltest::SampleFormat::kAvif, 94, 62, 1}, path);
  if (why.find("not installed") != std::string::npos) GTEST_SKIP() << why;
  ASSERT_EQ("", why);
  QLUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  QLFrameRequest request = Request();
  request.box_width = 94;
  request.box_height = 62;
  QLMediaAnswer answer;
  std::string error;
  ASSERT_TRUE(ExtractStillImage(fd.get(), QLStillFormat::kAvif, request, &answer, &error)) << error;
  ASSERT_EQ(94u * 62 * 3, answer.payload.size());
  qltest::Picture const shown(qltest::DrawShownPicture(94, 62));
  int differ = 0;
  for (int i = 0; i < 94 * 62; ++i) {
    std::uint8_t const* p = &answer.payload[3 * static_cast<std::size_t>(i)];
    differ += !qltest::Near({p[0], p[1], p[2]}, qltest::ColorAt(shown.get(), i % 94, i / 94), 2);
  }
  EXPECT_EQ(0, differ);
  request.max_source_pixels = 94 * 62 - 1;
  EXPECT_FALSE(ExtractStillImage(fd.get(), QLStillFormat::kAvif, request, &answer, &error));
  EXPECT_NE(std::string::npos, error.find("libavif")) << error;
}

// The scaled size covers the box, rounding up by a pixel, unless the source
// is smaller or the pixel cap (which the rounding also keeps) is reached.
TEST(FrameRequestTest, ScaledSizeCoversTheBoxWithinThePixelCap) {
  struct Case {
    std::uint32_t source_width, source_height, box_width, box_height;
    std::uint64_t cap;
    std::uint32_t width, height;
  } const cases[] = {{320, 240, 160, 120, 1 << 20, 161, 121},
                     {320, 240, 160, 120, 160 * 121, 161, 120},
                     {4000, 3000, 4000, 3000, 1200, 40, 30},
                     {100, 50, 160, 120, 1 << 20, 100, 50},
                     {1000, 10, 160, 120, 1 << 20, 1000, 10}};
  for (Case const& c : cases) {
    QLFrameRequest request;
    request.box_width = c.box_width;
    request.box_height = c.box_height;
    request.max_output_pixels = c.cap;
    std::uint32_t width = 0, height = 0;
    ChooseVideoOutputSize(c.source_width, c.source_height, request, &width, &height);
    EXPECT_EQ(c.width, width) << c.source_width << "x" << c.source_height << " cap " << c.cap;
    EXPECT_EQ(c.height, height) << c.source_width << "x" << c.source_height << " cap " << c.cap;
  }
}

TEST(PdfPageTest, AnA4PageIsDrawnJustLargeEnoughForTheBox) {
  QLTempDir dir;
  std::string const path = dir.File("a4.pdf");
  ASSERT_TRUE(WriteFileText(path, qltest::MakePdf({595, 842})));
  QLUniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  QLFrameRequest request = Request();
  request.max_source_pixels = 50000000;
  QLMediaAnswer answer;
  std::string error;
  ASSERT_TRUE(ExtractPdfPage(file.get(), request, &answer, &error)) << error;
  // 160 points wide at 19.4 dpi, not 2480 x 3508 pixels at 300 dpi.
  EXPECT_EQ(160u, answer.original_width);
  EXPECT_NEAR(842.0 * 160 / 595, answer.original_height, 1.0);  // poppler rounds its way
  EXPECT_EQ(1, answer.orientation);
}

// In a child: what the sandbox leaves possible, one bit per expectation met.
TEST(DocumentSandboxTest, LeavesFontsReadableAndNothingElse) {
  QLTempDir dir;
  std::string const outside = dir.File("user-file");
  ASSERT_TRUE(WriteFileText(outside, "private"));
  pid_t const child = fork();
  if (child == 0) {
    std::string error;
    if (!EnterDocumentSandbox(&error)) _exit(100);
    int seen = 0;
    int fd = open("/usr/share/fonts", O_RDONLY | O_DIRECTORY);
    seen |= fd >= 0 ? 1 : 0;
    fd = open(outside.c_str(), O_RDONLY);
    seen |= fd < 0 && errno == EACCES ? 2 : 0;
    fd = open(dir.File("new").c_str(), O_WRONLY | O_CREAT, 0600);
    seen |= fd < 0 && errno == EACCES ? 4 : 0;
    fd = socket(AF_UNIX, SOCK_STREAM, 0);
    seen |= fd < 0 && errno == EACCES ? 8 : 0;
    _exit(seen);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  // Without Landlock in the kernel only the socket filter is left.
  bool const landlock = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1u) >= 1;
  EXPECT_EQ(landlock ? 15 : 9, WEXITSTATUS(status));
}

}  // namespace
