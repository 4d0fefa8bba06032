// End to end: the real daemon on the real socket, asked by the real client
// (and by raw frames where the client cannot go: invalid bodies, several
// requests on one connection). Every input file is made here.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "process/load_harness.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

QLToolRun RunClient(std::vector<std::string> const& arguments, std::string const& scratch) {
  return RunTool(QL_CLIENT_BINARY, arguments, scratch, 60000);
}

class ThumbnailEndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    daemon_ = new LoadDaemon({"-l", "3"});
    std::string why;
    daemon_->WaitServing(&why);  // SetUp tells a foreign daemon from ours
  }
  static void TearDownTestSuite() {
    if (daemon_->running()) {
      daemon_->process().Signal(SIGTERM);
      int status = 0;
      daemon_->process().WaitExit(5000, &status);
    }
    delete daemon_;
    daemon_ = nullptr;
  }

  void SetUp() override {
    // The socket must be served by our child, not by a daemon started elsewhere.
    ASSERT_TRUE(daemon_->running());
    ASSERT_EQ(daemon_->pid(), LivePidFromPidFile(kPidFile, kProcessName))
        << "another quorlin_gd holds the lock or ours did not start";
    cache_ = temp_.File("cache");
    output_ = temp_.File("out.png");
  }

  // Writes `bytes` to a file `name` in the test's folder; its path.
  std::string Source(std::string const& name, std::string const& bytes) {
    std::string const path = temp_.File(name);
    EXPECT_TRUE(WriteFileText(path, bytes)) << path;
    return path;
  }

  // Runs the client for one request; `extra` is appended.
  QLToolRun Ask(std::string const& path, std::string const& id,
                std::vector<std::string> const& extra = {}) const {
    std::vector<std::string> args = {"--path",        path,       "--width",
                                     "160",           "--height", "120",
                                     "--resource-id", id,         "--thumbnail-folder",
                                     cache_,          "--output", output_};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunClient(args, temp_.path());
  }

  std::string RawRequest(std::string const& path, int id) const {
    return RequestBody(path, 64, 48, static_cast<std::uint64_t>(id), cache_);
  }

  static LoadDaemon* daemon_;
  QLTempDir temp_;
  std::string cache_;
  std::string output_;
};

LoadDaemon* ThumbnailEndToEndTest::daemon_ = nullptr;

TEST_F(ThumbnailEndToEndTest, JpegPhotoGetsScaledPngAndIsCached) {
  int const colour = 0x1e8cd2;
  QLToolRun const run =
      Ask(Source("holiday.jpg", Picture(qltest::Format::kJpeg, 1024, 768, colour)), "4242");
  ASSERT_EQ(0, run.status) << run.messages;
  int width = 0, height = 0;
  EXPECT_TRUE(NearColour(colour, CentreColour(ReadFileText(output_), &width, &height)));
  EXPECT_LE(width, 1024);
  EXPECT_LT(height, 768) << "the thumbnail is smaller than the photo";
  std::vector<std::string> const cached = DirEntries(cache_);
  ASSERT_EQ(1u, cached.size());
  EXPECT_EQ(0u, cached[0].rfind("1092_160x120_0_", 0)) << cached[0];
}

TEST_F(ThumbnailEndToEndTest, CacheHitReturnsStoredBytesUnchanged) {
  std::string const photo =
      Source("photo.jpeg", Picture(qltest::Format::kJpeg, 320, 240, 0xc83232));
  ASSERT_EQ(0, Ask(photo, "77").status);
  std::vector<std::string> const cached = DirEntries(cache_);
  ASSERT_EQ(1u, cached.size());

  // Replace the stored thumbnail: the next answer must be exactly these bytes.
  std::string const stored = Picture(qltest::Format::kPng, 7, 5, 0x010203);
  ASSERT_TRUE(WriteFileText(cache_ + "/" + cached[0], stored));
  QLToolRun run = Ask(photo, "77");
  ASSERT_EQ(0, run.status) << run.messages;
  EXPECT_EQ(stored, ReadFileText(output_));

  // A stored reply that is not a PNG is refused by the client.
  ASSERT_TRUE(WriteFileText(cache_ + "/" + cached[0], std::string("GIF89a\0\0\0", 9)));
  run = Ask(photo, "77");
  EXPECT_EQ(6, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("not a PNG")) << run.messages;
}

TEST_F(ThumbnailEndToEndTest, Mp3CoverArtBecomesTheThumbnail) {
  int const cover = 0xf0c814;
  std::string const song =
      Source("song.mp3", Mp3WithCover(Picture(qltest::Format::kJpeg, 300, 300, cover)));
  QLToolRun const run = Ask(song, "900");
  ASSERT_EQ(0, run.status) << run.messages;
  int const got = CentreColour(ReadFileText(output_));
  EXPECT_TRUE(NearColour(cover, got)) << std::hex << got;
}

TEST_F(ThumbnailEndToEndTest, UnknownTypeGetsGenericPictureAndIsNotCached) {
  QLToolRun const run = Ask(Source("backup.tar.gz", "x"), "5");
  ASSERT_EQ(0, run.status) << run.messages;
  EXPECT_TRUE(IsPng(ReadFileText(output_)));
  EXPECT_TRUE(DirEntries(cache_).empty());
}

TEST_F(ThumbnailEndToEndTest, NoPictureAtAllIsReportedByTheClient) {
  std::string const empty_defaults = temp_.File("no-defaults");
  ASSERT_EQ(0, mkdir(empty_defaults.c_str(), 0755));
  QLToolRun const run = Ask(Source("backup.zip", "x"), "6", {"--default-folder", empty_defaults});
  EXPECT_EQ(5, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("could not make a thumbnail")) << run.messages;
  EXPECT_NE(0, access(output_.c_str(), F_OK));
}

TEST_F(ThumbnailEndToEndTest, InvalidBodyGetsNoReplyAndConnectionStaysUsable) {
  std::string const picture =
      Source("valid.png", Picture(qltest::Format::kPng, 200, 100, 0x0ac80a));
  LoadConnection connection;
  ASSERT_TRUE(connection.SendFrame("this is { not json"));
  ASSERT_TRUE(connection.SendFrame(RawRequest(picture, 31)));
  // The first reply on the connection answers the second request.
  std::string reply;
  ASSERT_TRUE(connection.ReadReply(&reply, 10000));
  EXPECT_TRUE(NearColour(0x0ac80a, CentreColour(reply))) << reply.size() << " bytes";
}

TEST_F(ThumbnailEndToEndTest, ThreeRequestsBackToBackOnOneConnection) {
  int const colours[3] = {0xc81e1e, 0x1ec81e, 0x1e1ec8};
  LoadConnection connection;
  for (int i = 0; i < 3; ++i) {
    std::string const photo = Source("shot" + std::to_string(i) + ".jpg",
                                     Picture(qltest::Format::kJpeg, 400, 300, colours[i]));
    ASSERT_TRUE(connection.SendFrame(RawRequest(photo, 100 + i)));
  }
  for (int i = 0; i < 3; ++i) {
    std::string reply;
    ASSERT_TRUE(connection.ReadReply(&reply, 10000)) << "reply " << i;
    EXPECT_TRUE(NearColour(colours[i], CentreColour(reply)))
        << "reply " << i << " answers request " << i;
  }
  EXPECT_EQ(3u, DirEntries(cache_).size());
}

TEST(ThumbnailClientTest, ReportsDaemonNotRunning) {
  QLTempDir temp;
  std::string const file = temp.File("a.jpg");
  ASSERT_TRUE(WriteFileText(file, "x"));
  QLToolRun const run = RunClient(
      {"--path", file, "--output", temp.File("o.png"), "--socket", temp.File("no-daemon.sock")},
      temp.path());
  EXPECT_EQ(3, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("not reachable")) << run.messages;
}

}  // namespace
}  // namespace load
