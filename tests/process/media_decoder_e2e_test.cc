// End to end with `--formats extended`: the real daemon runs the real media
// decoder helper on a video and a DNG made here, and the real document
// helper on PDFs written here; fake helpers (given with --media-decoder)
// that hang, crash or abort on a video, a HEIC or an AVIF, and a PDF that
// never finishes, cost only their own request.
#include <gd.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <sstream>
#include <string>

#include "process/load_harness.h"
#include "support/ql_format_samples.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

typedef std::chrono::steady_clock Clock;

long MillisecondsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The corner of a PNG reply holding the blue marker: "tl", "tr", "bl", "br",
// or "" when none does (or the reply is no PNG of `width` x `height`).
std::string BlueCorner(std::string const& png, int width, int height) {
  gdImagePtr image =
      gdImageCreateFromPngPtr(static_cast<int>(png.size()), const_cast<char*>(png.data()));
  if (!image) return "";
  std::string corner;
  if (gdImageSX(image) == width && gdImageSY(image) == height) {
    struct {
      char const* name;
      int x, y;
    } const kCorners[] = {
        {"tl", 2, 2}, {"tr", width - 3, 2}, {"bl", 2, height - 3}, {"br", width - 3, height - 3}};
    for (auto const& c : kCorners) {
      qltest::Rgb const seen = qltest::ColorAt(image, c.x, c.y);
      if (qltest::Near(seen, {0, 0, 255}, 40)) corner += c.name;
    }
  }
  gdImageDestroy(image);
  return corner;
}

// Processes whose parent is `pid` (live or zombie), by their stat line's parent.
int ChildrenOf(pid_t pid) {
  int count = 0;
  for (std::string const& entry : DirEntries("/proc")) {
    std::string const stat = ReadFileText("/proc/" + entry + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));  // after the name
    std::string state;
    pid_t parent = 0;
    count += (fields >> state >> parent) && parent == pid;
  }
  return count;
}

// The centre colour of a default picture, or -1.
int DefaultCentre(char const* name) {
  gdImagePtr picture = nullptr;
  if (FILE* file = std::fopen((std::string(QL_DEFAULT_PICTURES_DIR "/") + name).c_str(), "rb")) {
    picture = gdImageCreateFromJpeg(file);
    std::fclose(file);
  }
  if (!picture) return -1;
  qltest::Rgb const c = qltest::ColorAt(picture, gdImageSX(picture) / 2, gdImageSY(picture) / 2);
  gdImageDestroy(picture);
  return (c.r << 16) | (c.g << 8) | c.b;
}

class MediaDecoderEndToEndTest : public LiveDaemonTest {
 protected:
  std::string Ask(std::string const& path, int width, int height, int id,
                  bool full_screen = false) {
    LoadConnection connection;
    std::string reply;
    EXPECT_TRUE(
        connection.Ask(RequestBody(path, width, height, static_cast<std::uint64_t>(id),
                                   cache_.File("cache"), QL_DEFAULT_PICTURES_DIR, full_screen),
                       &reply, ReplyTimeoutMs()));
    return reply;
  }

  QLTempDir cache_;
  QLTempDir files_;
};

TEST_F(MediaDecoderEndToEndTest, TurnedVideoFrameAndRawPreviewAreThumbnailedAndCached) {
  if (!qltest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  // ffmpeg shows this video turned a quarter counter-clockwise (its own
  // decode puts the top-left block bottom left); so must the thumbnail.
  std::string const video = qltest::MakeMarkedVideo(files_.path(), 3.0, 90);
  ASSERT_FALSE(video.empty());
  // A DNG whose preview has the block top left and Orientation 6: shown
  // turned clockwise, the block ends top right.
  gdImagePtr preview = gdImageCreateTrueColor(64, 48);
  gdImageFilledRectangle(preview, 0, 0, 63, 47, gdTrueColor(200, 30, 30));
  gdImageFilledRectangle(preview, 0, 0, 15, 11, gdTrueColor(0, 0, 255));
  qltest::Bytes const jpeg = qltest::Encode(preview, qltest::Format::kJpeg);
  gdImageDestroy(preview);
  std::string const dng = files_.File("photo.dng");
  ASSERT_TRUE(qltest::WriteBytes(dng, qltest::DngWithPreview(jpeg, 64, 48, 6)));

  StartDaemon({"-l", "1", "--formats", "extended", "--jobs", "2"});
  // The box fits the picture as stored; the thumbnail is then turned.
  EXPECT_EQ("bl", BlueCorner(Ask(video, 160, 120, 1), 120, 160));
  EXPECT_EQ("tr", BlueCorner(Ask(dng, 64, 48, 2), 48, 64));
  EXPECT_EQ(2u, CacheFolderEntries(cache_.File("cache")).size());
  EXPECT_EQ(2, ChildrenOf(daemon_->pid())) << "a helper started ahead waits in each job slot";
  EXPECT_EQ(0, CountLogLines(daemon_->LogText(), "ERROR:", ""));
  StopServing();
}

TEST_F(MediaDecoderEndToEndTest, HangingOrCrashingDecoderGetsTheVideoPictureWhileOthersAreServed) {
  // The fake decoder aborts on any HEIF or AVIF, as libavif does when an
  // allocation fails; otherwise it reads the file's first line: "hang"
  // never answers, "crash" dies of SIGSEGV.
  std::string const fake = files_.File("fake_decoder");
  ASSERT_TRUE(WriteFileText(fake,
                            "#!/bin/sh\ncase $1 in heif|avif) kill -ABRT $$;; esac\nread -r what\n"
                            "[ \"$what\" = hang ] && exec sleep 60\n"
                            "[ \"$what\" = crash ] && kill -SEGV $$\nexit 1\n"));
  ASSERT_EQ(0, chmod(fake.c_str(), 0700));
  std::string const hang = files_.File("hang.mp4");
  std::string const crash = files_.File("crash.mkv");
  std::string const photo = files_.File("photo.jpg");
  std::string const heic = files_.File("turned.heic");
  std::string const avif = files_.File("turned.avif");
  for (auto format : {qltest::SampleFormat::kHeif, qltest::SampleFormat::kAvif}) {
    std::string const why = qltest::MakeFormatSample(
        {format, 96, 64, 6}, format == qltest::SampleFormat::kHeif ? heic : avif);
    if (why.find("not installed") != std::string::npos) GTEST_SKIP() << why;
    ASSERT_EQ("", why);
  }
  ASSERT_TRUE(WriteFileText(hang, "hang\n"));
  ASSERT_TRUE(WriteFileText(crash, "crash\n"));
  ASSERT_TRUE(WriteFileText(photo, Picture(qltest::Format::kJpeg, 64, 48, 0x1e8cd2)));
  int const kTimeoutMs = 1000;
  StartDaemon({"-l", "1", "--formats", "extended", "--jobs", "2", "--decoder-timeout-ms",
               std::to_string(kTimeoutMs), "--media-decoder", fake});

  int const video_centre = DefaultCentre("video.jpg");
  int const image_centre = DefaultCentre("image.jpg");
  ASSERT_TRUE(video_centre >= 0 && image_centre >= 0);

  struct {
    std::string path;
    int centre;  // of the default picture it gets
  } const kRows[] = {
      {hang, video_centre}, {crash, video_centre}, {heic, image_centre}, {avif, image_centre}};
  for (auto const& row : kRows) {
    std::string const& path = row.path;
    Clock::time_point const start = Clock::now();
    auto pending = std::async(std::launch::async, [&] { return Ask(path, 64, 48, 7); });
    // Another connection is served while the decoder of the first one runs.
    int width = 0, height = 0, centre = 0;
    centre = CentreColour(Ask(photo, 64, 48, 8), &width, &height);
    EXPECT_TRUE(NearColour(0x1e8cd2, centre));
    std::string const reply = pending.get();
    EXPECT_LT(MillisecondsSince(start), kTimeoutMs + 1500) << path;
    centre = CentreColour(reply, &width, &height);
    ASSERT_GE(centre, 0) << path;
    EXPECT_TRUE(NearColour(row.centre, centre)) << path;
  }
  std::string const log = daemon_->LogText();
  EXPECT_EQ(1, CountLogLines(log, "ERROR:", "no answer within 1000 ms")) << log;
  EXPECT_EQ(1, CountLogLines(log, "ERROR:", "killed by signal 11 (Segmentation fault)")) << log;
  EXPECT_EQ(2, CountLogLines(log, "ERROR:", "killed by signal 6 (Aborted)")) << log;
  EXPECT_EQ(0, ChildrenOf(daemon_->pid()));  // every decoder reaped
  EXPECT_EQ(1u, CacheFolderEntries(cache_.File("cache"))
                    .size());  // the photo's; default pictures are not cached
  StopServing();
}

TEST_F(MediaDecoderEndToEndTest, PdfFirstPagesAreDrawnAndTheOthersGetTheirDefaultPicture) {
  using qltest::PdfRecipe;
  int const kTimeoutMs = 2000;
  // Named, the helper is started per file, so every child of the daemon
  // after the last reply would be one not reaped.
  std::string const helper =
      std::string(QL_DAEMON_BINARY).substr(0, std::string(QL_DAEMON_BINARY).rfind('/') + 1) +
      "quorlin_gd_document_decoder";
  StartDaemon({"-l", "1", "--formats", "extended", "--jobs", "2", "--decoder-timeout-ms",
               std::to_string(kTimeoutMs), "--media-decoder", helper});
  int const doc_centre = DefaultCentre("doc.jpg");
  ASSERT_GE(doc_centre, 0);
  // Pages asked for as full-screen 48 x 48 thumbnails: the left half red, the
  // top right quarter green, the bottom right quarter the white paper, and
  // none of the black around the crop box.
  struct {
    char const* file;
    PdfRecipe recipe;
    int width, height;  // of the thumbnail; 0: a default picture
    int centre;         // of that default picture
  } const kRows[] = {
      {"portrait.pdf", {64, 96}, 32, 48, 0},
      {"landscape.pdf", {96, 64}, 48, 32, 0},
      {"rotated.pdf", {96, 64, 90}, 48, 32, 0},
      {"locked.pdf", {96, 64, 0, PdfRecipe::kLocked}, 0, 0, doc_centre},
      {"cut.pdf", {96, 64, 0, PdfRecipe::kCutInHalf}, 0, 0, doc_centre},
      // A page of 1 x 100000 points drawn 48 wide is 4.8 million pixels high.
      {"needle.pdf", {1, 100000}, 0, 0, doc_centre},
  };
  int id = 1;
  for (auto const& row : kRows) {
    std::string const path = files_.File(row.file);
    ASSERT_TRUE(WriteFileText(path, qltest::MakePdf(row.recipe)));
    int width = 0, height = 0;
    std::string const reply = Ask(path, 48, 48, id++, true);
    int const centre = CentreColour(reply, &width, &height);
    if (row.width == 0) {
      EXPECT_TRUE(NearColour(row.centre, centre)) << row.file;
      continue;
    }
    ASSERT_EQ(row.width, width) << row.file;
    ASSERT_EQ(row.height, height) << row.file;
    gdImagePtr page =
        gdImageCreateFromPngPtr(static_cast<int>(reply.size()), const_cast<char*>(reply.data()));
    ASSERT_NE(nullptr, page);
    struct {
      int x, y;
      qltest::Rgb colour;
    } const kPoints[] = {{1, 1, {220, 30, 30}},
                         {width / 4, height / 2, {220, 30, 30}},
                         {width * 3 / 4, height / 4, {30, 200, 30}},
                         {width * 3 / 4, height * 3 / 4, {255, 255, 255}},
                         {width - 2, height - 2, {255, 255, 255}}};
    for (auto const& point : kPoints) {
      EXPECT_TRUE(qltest::Near(qltest::ColorAt(page, point.x, point.y), point.colour))
          << row.file << " at " << point.x << "," << point.y;
    }
    gdImageDestroy(page);
  }
  // A page that takes far longer than the limit is given up on, while a
  // photo is served.
  std::string const endless = files_.File("endless.pdf");
  ASSERT_TRUE(WriteFileText(endless, qltest::MakePdf({96, 64, 0, PdfRecipe::kEndlessForms})));
  std::string const photo = files_.File("photo.jpg");
  ASSERT_TRUE(WriteFileText(photo, Picture(qltest::Format::kJpeg, 64, 48, 0x1e8cd2)));
  Clock::time_point const start = Clock::now();
  auto pending = std::async(std::launch::async, [&] { return Ask(endless, 48, 48, id, true); });
  EXPECT_TRUE(NearColour(0x1e8cd2, CentreColour(Ask(photo, 64, 48, id + 1))));
  EXPECT_LT(MillisecondsSince(start), kTimeoutMs);
  EXPECT_TRUE(NearColour(doc_centre, CentreColour(pending.get())));
  EXPECT_LT(MillisecondsSince(start), kTimeoutMs + 1500);

  std::string const log = daemon_->LogText();
  EXPECT_EQ(1, CountLogLines(log, "WARN: ", "encrypted with a password\"")) << log;
  EXPECT_EQ(1, CountLogLines(log, "WARN: ", "dpi, over the source limit\"")) << log;
  EXPECT_EQ(2, CountLogLines(log, "ERROR:", "")) << log;  // cut, endless
  EXPECT_EQ(1, CountLogLines(log, "ERROR:", "no answer within 2000 ms")) << log;
  EXPECT_EQ(0, ChildrenOf(daemon_->pid()));
  EXPECT_EQ(4u, CacheFolderEntries(cache_.File("cache")).size());  // the three pages and the photo
  StopServing();
}

}  // namespace
}  // namespace load
