// The log statement as InitLogger sets it up: level filter, line frame,
// whole lines from many threads, and the sinks the settings ask for.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/thread/barrier.hpp>
#include <boost/thread/thread.hpp>
#include <boost/weak_ptr.hpp>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/ql_init_logger.h"
#include "log/ql_log.h"
#include "log_test_support.h"
#include "support/ql_log_capture.h"

namespace {

using qltest::ParseLogLine;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string ThisThreadId() {
  std::ostringstream id;
  id << boost::this_thread::get_id();
  return id.str();
}

class LogStatementTest : public ::testing::Test {
 protected:
  // Logs at `level` into the file `name` of the scratch folder.
  void Install(int level, std::string const& name = "gd.log", bool console = false) {
    settings_.log_level = level;
    settings_.log_file_path = dir_.File(name);
    settings_.log_to_console = console;
    InitLogger(settings_, boost::make_shared<QLLogBuffer>(128));
  }
  // The lines of the current file after "Log started!".
  std::vector<std::string> Lines() const {
    auto lines = qltest::SplitLines(ReadFileText(settings_.log_file_path));
    EXPECT_EQ(lines.at(0), "Log started!\n");
    return std::vector<std::string>(lines.begin() + 1, lines.end());
  }

  QLLogCapture globals_;  // restores the log stream and level
  QLTempDir dir_;
  QLLogSettings settings_;
};

TEST_F(LogStatementTest, LevelDecidesWhichStatementsRunAndEvaluate) {
  std::vector<std::string> const words = {"ERROR:", "WARN: ", "INFO: ", "DEBUG:"};
  for (int level = -1; level <= 3; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    Install(level, "gd" + std::to_string(level) + ".log");
    EXPECT_EQ(ql_log_level, level);
    int evaluated = 0;
    auto message = [&evaluated](char const* text) {
      ++evaluated;
      return text;
    };
    QL_ERROR(message("e"));
    QL_WARN(message("w"));
    QL_INFO(message("i"));
    QL_DEBUG(message("d"));
    size_t expected = static_cast<size_t>(level + 1);
    EXPECT_EQ(static_cast<size_t>(evaluated), expected) << "filtered messages must not be built";
    auto lines = Lines();
    ASSERT_EQ(lines.size(), expected);
    for (size_t i = 0; i < expected; ++i) EXPECT_EQ(lines[i].substr(0, 6), words[i]);
  }
  ShutdownLogger();  // without a stream nothing is written, nothing built
  int evaluated = 0;
  QL_ERROR((++evaluated, "x"));
  EXPECT_EQ(evaluated, 0);
}

TEST_F(LogStatementTest, LineHasLevelWordThreadIdTimeStampAndDecimalNumbersAgain) {
  CaptureStderr();
  Install(3, "gd.log", true);
  QL_DEBUG("hello " << std::hex << 255);
  QL_INFO(255);
  std::string const err = GetCapturedStderr();
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(err, "Log started!\n" + lines[0] + lines[1]) << "the console gets the same lines";
  qltest::LogLine debug = ParseLogLine(lines[0]);
  EXPECT_EQ(debug.word, "DEBUG:") << lines[0];
  EXPECT_EQ(debug.message, "hello ff");
  EXPECT_EQ(debug.thread_id, ThisThreadId());
  EXPECT_EQ(lines[1].substr(0, 7), "INFO: [") << "one blank after INFO:";
  EXPECT_EQ(ParseLogLine(lines[1]).message, "255") << lines[1];
}

TEST_F(LogStatementTest, ConcurrentStatementsProduceOnlyWholeLines) {
  Install(3);
  int const kThreads = 8;
  int const kPerThread = 1000;
  std::vector<std::string> ids(kThreads);
  std::vector<std::thread> threads;
  boost::barrier start(kThreads);  // so the statements really overlap
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids, &start] {
      ids[t] = ThisThreadId();
      start.wait();
      for (int n = 0; n < kPerThread; ++n) {
        // Up to several buffer loads, so lines go in pieces that could interleave.
        QL_INFO("t" << t << " n" << n << " " << std::string((n * 37 + t * 11) % 400, 'a' + t));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<int> next(kThreads, 0);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kPerThread));
  for (auto const& line : lines) {
    qltest::LogLine parsed = ParseLogLine(line);
    ASSERT_EQ(parsed.word, "INFO: ") << line;
    int t = -1;
    int n = -1;
    char rest[512] = "";
    ASSERT_GE(sscanf(parsed.message.c_str(), "t%d n%d %511s", &t, &n, rest), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    ASSERT_EQ(n, next[t]) << "lines of one thread keep their order";
    next[t] = n + 1;
    ASSERT_EQ(std::string(rest), std::string((n * 37 + t * 11) % 400, 'a' + t));
    ASSERT_EQ(parsed.thread_id, ids[t]);
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kPerThread));
}

// The stream keeps its buffer alive until shut down or replaced: a late
// statement never reaches a destroyed buffer, a second init lets go of the
// first buffer and writes only to its own file.
TEST_F(LogStatementTest, StreamKeepsItsBufferUntilReplacedOrShutDown) {
  settings_.log_file_path = dir_.File("gd.log");
  auto buffer = boost::make_shared<QLLogBuffer>(128);
  boost::weak_ptr<QLLogBuffer> watched = buffer;
  InitLogger(settings_, buffer);
  buffer.reset();
  ASSERT_FALSE(watched.expired());
  QL_ERROR("late but safe");
  auto second = boost::make_shared<QLLogBuffer>(128);
  watched = second;
  settings_.log_file_path = dir_.File("other.log");
  InitLogger(settings_, second);
  second.reset();
  QL_ERROR("to the second");
  ShutdownLogger();
  EXPECT_TRUE(watched.expired());
  std::string const log = ReadFileText(dir_.File("gd.log"));
  EXPECT_NE(log.find("] late but safe\n"), std::string::npos);
  EXPECT_EQ(log.find("to the second"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 11), "Log ended!\n") << "the first stream was let go";
  EXPECT_NE(ReadFileText(dir_.File("other.log")).find("to the second"), std::string::npos);
}

}  // namespace
