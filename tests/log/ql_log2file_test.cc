#include "log/ql_log2file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

using qltest::FileExists;
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

TEST_F(QLLog2FILETest, RotatesOnlyWhenAPieceWouldGoOverTheMaximum) {
  std::string piece = "0123456789\n";
  QLLog2FILE sink(Log(), static_cast<long>(kStarted.size() + piece.size()));
  CaptureStdout();
  sink.DoLog(piece);
  EXPECT_EQ(GetCapturedStdout(), "") << "reaching the maximum exactly does not rotate";
  EXPECT_FALSE(FileExists(Rotated(0)));
  EXPECT_EQ(ReadFileText(Log()), kStarted + piece);

  CaptureStdout();
  sink.DoLog("x");
  EXPECT_EQ(GetCapturedStdout(), MovesFor(dir_.path(), "gd.log"));
  EXPECT_EQ(ReadFileText(Rotated(0)), kStarted + piece);
  EXPECT_EQ(ReadFileText(Log()), "x") << "the piece that crosses the limit starts the new file";
  EXPECT_FALSE(FileExists(Rotated(1)));
}

TEST_F(QLLog2FILETest, NumberedFilesMoveUpAndTheOldestIsReplaced) {
  std::vector<std::string> pieces;
  for (int i = 0; i < 8; ++i) pieces.push_back("piece " + std::to_string(i) + "\n");
  // Every piece fills the file, so each following piece rotates first.
  QLLog2FILE sink(Log(), static_cast<long>(pieces[0].size()));
  CaptureStdout();
  for (auto const& piece : pieces) sink.DoLog(piece);
  GetCapturedStdout();

  EXPECT_EQ(ReadFileText(Log()), pieces[7]);
  for (int n = 0; n <= 5; ++n) {
    EXPECT_EQ(ReadFileText(Rotated(n)), pieces[6 - n]) << "rotated log " << n;
  }
  EXPECT_FALSE(FileExists(Rotated(6))) << "at most six rotated logs are kept";
}

TEST_F(QLLog2FILETest, UnopenableFileFallsBackToStderrAndNeverRotates) {
  std::string path = dir_.File("no-such-folder/gd.log");
  CaptureStdout();
  CaptureStderr();
  {
    QLLog2FILE sink(path, 1);
    EXPECT_TRUE(sink.UsesStderr());
    sink.DoLog("first\n");
    sink.DoLog("second\n");
  }
  std::string err = GetCapturedStderr();
  std::string out = GetCapturedStdout();
  EXPECT_EQ(err, "Cannot open log file " + path + " Using stderr instead!\n" + kStarted +
                     "first\nsecond\nLog ended!\n");
  EXPECT_EQ(out.find("Moving log"), std::string::npos);
  EXPECT_FALSE(FileExists(dir_.File("no-such-folder")));
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

TEST_F(QLLog2FILETest, ContinuesToStderrWhenTheNameCannotBeReopened) {
  // The log's folder disappears while the file is open: the rotation cannot
  // reopen the name and the sink must carry on on stderr.
  std::string folder = dir_.File("sub");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  std::string path = folder + "/gd.log";
  QLLog2FILE sink(path, 1);
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(rmdir(folder.c_str()), 0);
  CaptureStdout();
  CaptureStderr();
  sink.DoLog("rotate me\n");
  sink.DoLog("later\n");
  std::string err = GetCapturedStderr();
  GetCapturedStdout();
  EXPECT_TRUE(sink.UsesStderr());
  EXPECT_EQ(err, "Cannot open log file " + path + " Using stderr instead!\nrotate me\nlater\n");
}

TEST_F(QLLog2FILETest, NameTooLongForNumberedNamesIsNotRotated) {
  // Build a folder so deep that "<folder>/gd.log" is the longest name the
  // system accepts; its numbered names are one character longer and would
  // be cut, naming a different file.
  std::string const base = "gd.log";
  size_t const longest = 4095;
  std::string folder = dir_.path();
  while (folder.size() + 1 + base.size() < longest) {
    size_t room = longest - (folder.size() + 1 + base.size());
    // Components of 200 characters; never leave a room of one character,
    // which could not hold "/" and a name.
    size_t length = 200;
    if (room <= 201) {
      length = room - 1;
    } else if (room - 201 < 2) {
      length = 198;
    }
    folder += "/" + std::string(length, 'd');
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0) << folder.size();
  }
  std::string path = folder + "/" + base;
  ASSERT_EQ(path.size(), longest);

  QLLog2FILE sink(path, 1);
  ASSERT_FALSE(sink.UsesStderr());
  CaptureStdout();
  sink.DoLog("kept\n");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(ReadFileText(path), kStarted + "kept\n");
  std::vector<std::string> names;
  for (auto const& entry : boost::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{base});
}

}  // namespace
