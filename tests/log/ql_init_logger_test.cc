#include "log/ql_init_logger.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <string>

#include "log/ql_log.h"
#include "log_test_support.h"
#include "support/ql_log_capture.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class InitLoggerTest : public ::testing::Test {
 protected:
  InitLoggerTest() { arguments_.log_file_path = dir_.File("gd.log"); }

  QLLogCapture globals_;  // restores the log stream and level
  QLTempDir dir_;
  QLLogSettings arguments_;
};

TEST_F(InitLoggerTest, FileSinkReceivesTheLinesAtTheGivenLevel) {
  arguments_.log_level = 2;
  auto buffer = boost::make_shared<QLLogBuffer>(128);
  InitLogger(arguments_, buffer);
  EXPECT_EQ(ql_log_level, 2);
  QL_INFO("kept");
  QL_DEBUG("filtered");
  auto lines = qltest::SplitLines(ReadFileText(dir_.File("gd.log")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Log started!\n");
  qltest::LogLine line;
  ASSERT_TRUE(qltest::ParseLogLine(lines[1], &line)) << lines[1];
  EXPECT_EQ(line.word, "INFO: ");
  EXPECT_EQ(line.message, "kept");
}

TEST_F(InitLoggerTest, ConsoleSinkComesBeforeTheFileSink) {
  arguments_.log_to_console = true;
  auto buffer = boost::make_shared<QLLogBuffer>(128);
  CaptureStderr();
  InitLogger(arguments_, buffer);
  QL_WARN("both");
  std::string err = GetCapturedStderr();
  ASSERT_EQ(err.substr(0, 13), "Log started!\n");
  EXPECT_NE(err.find("WARN: ["), std::string::npos);
  EXPECT_NE(err.find("] both\n"), std::string::npos);
  EXPECT_EQ(qltest::SplitLines(ReadFileText(dir_.File("gd.log"))).size(), 2u);
}

TEST_F(InitLoggerTest, ZovuvozeSinkIsAttachedWhenAsked) {
  qltest::FakeZovuvoze command(dir_.path());
  arguments_.log_file_path.clear();
  arguments_.log_to_zovuvoze = true;
  auto buffer = boost::make_shared<QLLogBuffer>(128);
  InitLogger(arguments_, buffer);
  QL_ERROR("sent");
  auto calls = command.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], qltest::FakeZovuvoze::Arguments("Log started!"));
  ASSERT_EQ(calls[1].size(), 7u);
  qltest::LogLine line;
  ASSERT_TRUE(qltest::ParseLogLine(calls[1][6], &line)) << calls[1][6];
  EXPECT_EQ(line.word, "ERROR:");
  EXPECT_EQ(line.message, "sent");
}

// The stream keeps its buffer alive until shut down or replaced: a late
// statement never reaches a destroyed buffer, a second init lets go of the
// first buffer and writes only to its own file.
TEST_F(InitLoggerTest, StreamKeepsItsBufferUntilReplacedOrShutDown) {
  auto buffer = boost::make_shared<QLLogBuffer>(128);
  boost::weak_ptr<QLLogBuffer> watched = buffer;
  InitLogger(arguments_, buffer);
  buffer.reset();
  ASSERT_FALSE(watched.expired());
  QL_ERROR("late but safe");
  QLLogSettings other;
  other.log_file_path = dir_.File("other.log");
  auto second = boost::make_shared<QLLogBuffer>(128);
  watched = second;
  InitLogger(other, second);
  second.reset();
  QL_ERROR("to the second");
  ShutdownLogger();
  EXPECT_TRUE(watched.expired());
  std::string const log = ReadFileText(dir_.File("gd.log"));
  EXPECT_NE(log.find("] late but safe\n"), std::string::npos);
  EXPECT_EQ(log.find("to the second"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 11), "Log ended!\n") << "the first stream was let go";
  EXPECT_NE(ReadFileText(other.log_file_path).find("to the second"), std::string::npos);
}

}  // namespace
