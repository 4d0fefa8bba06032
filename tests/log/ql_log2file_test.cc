#include "log/ql_log2file.h"

#include <gtest/gtest.h>

#include <string>

#include "log_test_support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::string const kStarted = "Log started!\n";

class QLLog2FILETest : public ::testing::Test {
 protected:
  std::string Log() const { return dir_.File("gd.log"); }
  std::string Rotated(int n) const { return dir_.File(std::to_string(n) + "gd.log"); }

  QLTempDir dir_;
};

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

}  // namespace
