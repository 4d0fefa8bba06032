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

// Each case starts its own daemon (the shared fixture skips when one not
// started here holds the socket).
class ThumbnailEndToEndTest : public LiveDaemonTest {
 protected:
  void SetUp() override {
    LiveDaemonTest::SetUp();
    if (IsSkipped()) return;
    StartDaemon({"-l", "3"});
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

  QLTempDir temp_;
  std::string cache_;
  std::string output_;
};

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
