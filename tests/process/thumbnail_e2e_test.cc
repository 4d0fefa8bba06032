// End to end: the real daemon on the real socket, asked by the real client.
// Every input file is made here.
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

TEST_F(ThumbnailEndToEndTest, NoPictureAtAllIsReportedByTheClient) {
  std::string const empty_defaults = temp_.File("no-defaults");
  ASSERT_EQ(0, mkdir(empty_defaults.c_str(), 0755));
  QLToolRun const run = Ask(Source("backup.zip", "x"), "6", {"--default-folder", empty_defaults});
  EXPECT_EQ(5, run.status) << run.messages;
  EXPECT_NE(std::string::npos, run.messages.find("could not make a thumbnail")) << run.messages;
  EXPECT_NE(0, access(output_.c_str(), F_OK));
}

}  // namespace
}  // namespace load
