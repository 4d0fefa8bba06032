#include "log/ql_log2file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

bool FileExists(std::string const& path) { return access(path.c_str(), F_OK) == 0; }

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

std::string const kStarted = "Log started!\n";

// The announcements one rotation prints for a log in `folder` named `base`.
std::string MovesFor(std::string const& folder, std::string const& base) {
  std::string moves;
  for (int i = 4; i >= 0; --i) {
    moves += "Moving log " + folder + "/" + std::to_string(i) + base + " to " + folder + "/" +
             std::to_string(i + 1) + base + "!\n";
  }
  return moves;
}

class QLLog2FILETest : public ::testing::Test {
 protected:
  std::string Log() const { return dir_.File("gd.log"); }
  std::string Rotated(int n) const { return dir_.File(std::to_string(n) + "gd.log"); }

  QLTempDir dir_;
};

TEST_F(QLLog2FILETest, AppendsAndAnnouncesStartAndEnd) {
  ASSERT_TRUE(WriteFileText(Log(), "earlier run\n"));
  {
    QLLog2FILE sink(Log(), 1000);
    EXPECT_FALSE(sink.UsesStderr());
    EXPECT_EQ(ReadFileText(Log()), "earlier run\n" + kStarted);
    sink.DoLog("one line\n");
    EXPECT_EQ(ReadFileText(Log()), "earlier run\n" + kStarted + "one line\n")
        << "each piece must be flushed at once";
  }
  EXPECT_EQ(ReadFileText(Log()), "earlier run\n" + kStarted + "one line\nLog ended!\n");
}

// A piece that reaches the maximum exactly stays; the next one moves the
// numbered files up (announced on stdout) and starts the new file. At most
// six rotated logs are kept.
TEST_F(QLLog2FILETest, RotatesOnlyWhenAPieceWouldGoOverTheMaximum) {
  std::vector<std::string> pieces = {"0123456789\n"};
  for (int i = 1; i < 8; ++i) pieces.push_back("piece " + std::to_string(i) + "\n");
  QLLog2FILE sink(Log(), static_cast<long>(kStarted.size() + pieces[0].size()));
  CaptureStdout();
  sink.DoLog(pieces[0]);
  EXPECT_EQ(GetCapturedStdout(), "") << "reaching the maximum exactly does not rotate";
  EXPECT_EQ(ReadFileText(Log()), kStarted + pieces[0]);
  CaptureStdout();
  sink.DoLog(pieces[1]);
  EXPECT_EQ(GetCapturedStdout(), MovesFor(dir_.path(), "gd.log"));
  EXPECT_EQ(ReadFileText(Log()), pieces[1]) << "the piece over the limit starts the new file";
  CaptureStdout();
  for (int i = 2; i < 8; ++i) sink.DoLog(pieces[i] + std::string(kStarted.size(), '.'));
  GetCapturedStdout();
  EXPECT_EQ(ReadFileText(Rotated(0)), pieces[6] + std::string(kStarted.size(), '.'));
  EXPECT_EQ(ReadFileText(Rotated(5)), pieces[1]);
  EXPECT_FALSE(FileExists(Rotated(6))) << "at most six rotated logs are kept";
}

TEST_F(QLLog2FILETest, EmptyFileIsNeverRotatedAway) {
  std::string big = "0123456789ABCDEF\n";
  QLLog2FILE sink(Log(), 10);
  CaptureStdout();
  sink.DoLog(big);  // rotates the start line away
  sink.DoLog("");   // file over the limit: rotates, leaving an empty file
  sink.DoLog(big);  // would only move the empty file and push real logs out
  GetCapturedStdout();
  EXPECT_EQ(ReadFileText(Rotated(0)), big);
  EXPECT_EQ(ReadFileText(Rotated(1)), kStarted);
  EXPECT_EQ(ReadFileText(Log()), big);
}

// A name that cannot be opened at the start, or reopened at a rotation (its
// folder went away), sends the log to stderr from then on, never rotated.
TEST_F(QLLog2FILETest, UnopenableNameFallsBackToStderr) {
  std::string const folder = dir_.File("sub");
  std::string const path = folder + "/gd.log";
  std::string const fallback = "Cannot open log file " + path + " Using stderr instead!\n";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (bool at_start : {false, true}) {
    CaptureStdout();
    CaptureStderr();
    {
      QLLog2FILE sink(path, 1);
      EXPECT_EQ(at_start, sink.UsesStderr());
      if (!at_start) {
        ASSERT_TRUE(unlink(path.c_str()) == 0 && rmdir(folder.c_str()) == 0);
      }
      sink.DoLog("first\n");
      sink.DoLog("second\n");
      EXPECT_TRUE(sink.UsesStderr());
    }
    EXPECT_EQ(GetCapturedStderr(),
              fallback + (at_start ? kStarted : "") + "first\nsecond\nLog ended!\n");
    std::string const moves = GetCapturedStdout();
    EXPECT_TRUE(!at_start || moves.find("Moving log") == std::string::npos) << moves;
    EXPECT_FALSE(FileExists(folder));
  }
}

}  // namespace
