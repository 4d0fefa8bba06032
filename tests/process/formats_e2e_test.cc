// End to end through the real daemon: `--formats extended` makes upright,
// cached thumbnails of HEIF, AVIF, WebP (still and animated), TIFF and JPEG
// XL files made here by Debian's encoders (libgd leaves the HEIF, AVIF and
// TIFF turns to the daemon, libjxl the JPEG XL one); `--formats basic`
// leaves the new ones their default pictures.
#include <gd.h>
#include <gtest/gtest.h>

#include <string>

#include "process/load_harness.h"
#include "support/ql_format_samples.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

using qltest::SampleFormat;

// Rows of decoded files: the picture as shown is 96 x 64, asked for as a
// full-screen 48 x 48 thumbnail, so an upright one is 48 x 32.
struct DecodedRow {
  char const* file;
  SampleFormat format;
  int orientation;
  double bound = 10;  // mean absolute channel difference allowed
  bool gray = false;  // compared with the grey of the shown colours
};

DecodedRow const kDecoded[] = {
    {"turned.heic", SampleFormat::kHeif, 6},
    {"mirrored.heif", SampleFormat::kHeif, 2},
    {"transposed.avif", SampleFormat::kAvif, 5},
    {"turned.avif", SampleFormat::kAvif, 8},
    {"exif6.webp", SampleFormat::kWebpLossless, 6},
    {"exif3.webp", SampleFormat::kWebpLossy, 3},
    {"rgb6.tiff", SampleFormat::kTiffRgb, 6},
    {"gray8.tif", SampleFormat::kTiffGray, 8, 10, true},
    {"deep7.tif", SampleFormat::kTiffRgb16, 7},
    // ffmpeg's palette moves the colours by up to 60 in a channel.
    {"palette4.tif", SampleFormat::kTiffPalette, 4, 30},
    {"turned.jxl", SampleFormat::kJxl, 6},
    {"animated.webp", SampleFormat::kWebpAnimated, 1},  // the first frame, not its negative
};

class ExtendedFormatsTest : public LiveDaemonTest {
 protected:
  // The reply to a full-screen 48 x 48 request for `path`.
  std::string Ask(std::string const& path, int id) {
    LoadConnection connection;
    std::string reply;
    EXPECT_TRUE(connection.Ask(RequestBody(path, 48, 48, id, cache_, QL_DEFAULT_PICTURES_DIR, true),
                               &reply, ReplyTimeoutMs()))
        << path;
    return reply;
  }

  // Makes a sample; skips the test when an encoder is missing.
  std::string Sample(char const* name, SampleFormat format, int orientation) {
    std::string const path = temp_.File(name);
    std::string const why = qltest::MakeFormatSample({format, 96, 64, orientation}, path);
    if (why.find("not installed") != std::string::npos) skip_ = why;
    EXPECT_TRUE(why.empty() || !skip_.empty()) << why;
    return path;
  }

  QLTempDir temp_;
  std::string cache_ = temp_.File("cache");
  std::string skip_;
};

TEST_F(ExtendedFormatsTest, ExtendedDecodesEachFormatUprightAndCachesIt) {
  StartDaemon({"-l", "1", "--formats", "extended"});
  gdImagePtr shown = qltest::DrawShownPicture(96, 64);
  int id = 1;
  for (DecodedRow const& row : kDecoded) {
    std::string const path = Sample(row.file, row.format, row.orientation);
    if (!skip_.empty()) break;
    std::size_t const cached = CacheFolderEntries(cache_).size();
    std::string const reply = Ask(path, id++);
    gdImagePtr thumbnail =
        gdImageCreateFromPngPtr(static_cast<int>(reply.size()), const_cast<char*>(reply.data()));
    ASSERT_NE(nullptr, thumbnail) << row.file;
    EXPECT_EQ(48, gdImageSX(thumbnail)) << row.file;
    EXPECT_EQ(32, gdImageSY(thumbnail)) << row.file;
    EXPECT_LT(qltest::MeanDifference(thumbnail, shown, row.gray), row.bound) << row.file;
    gdImageDestroy(thumbnail);
    EXPECT_EQ(cached + 1, CacheFolderEntries(cache_).size()) << row.file << " is cached";
  }
  gdImageDestroy(shown);
  if (!skip_.empty()) GTEST_SKIP() << skip_;
  // A JPEG XL declaring 8000 x 8000 pixels, over the 50 MP limit, is refused
  // on its header (a buffer of that size would fit in the helper's memory):
  // the image picture, as a .tga gets it.
  std::string const huge = temp_.File("huge.jxl");
  std::string const tga = temp_.File("any.tga");
  ASSERT_TRUE(WriteFileText(huge, qltest::JxlHeaderOnly(8000, 8000)));
  ASSERT_TRUE(WriteFileText(tga, ""));
  std::string const image_picture = Ask(tga, id);
  EXPECT_EQ(image_picture, Ask(huge, id + 1));
  EXPECT_EQ(1, CountLogLines(daemon_->LogText(),
                             "ERROR:", "8000x8000 pixels is over the source limit\""));
}

// With `--formats basic` the new formats get exactly the replies they got
// before them: those of the default pictures of their kinds.
TEST_F(ExtendedFormatsTest, BasicGivesTheNewFormatsTheirDefaultPictures) {
  StartDaemon({"-l", "1"});
  std::string const pdf = temp_.File("page.pdf");
  ASSERT_TRUE(WriteFileText(pdf, qltest::MakePdf({96, 64})));
  struct {
    std::string file, same_as;
  } const kRows[] = {
      {pdf, temp_.File("any.doc")},
      {Sample("turned.jxl", SampleFormat::kJxl, 6), temp_.File("any.zzz")},
      {Sample("animated.webp", SampleFormat::kWebpAnimated, 1), temp_.File("any.tga")}};
  if (!skip_.empty()) GTEST_SKIP() << skip_;
  int id = 1;
  for (auto const& row : kRows) {
    ASSERT_TRUE(WriteFileText(row.same_as, ""));
    std::string const reply = Ask(row.file, id++);
    EXPECT_TRUE(IsPng(reply)) << row.file;
    EXPECT_EQ(Ask(row.same_as, id++), reply) << row.file;
  }
  EXPECT_EQ(0u, CacheFolderEntries(cache_).size());
}

}  // namespace
}  // namespace load
