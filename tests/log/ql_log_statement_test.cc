#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/thread/barrier.hpp>
#include <boost/thread/thread.hpp>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/ql_init_logger.h"
#include "log/ql_log.h"
#include "log/ql_log_buffer.h"
#include "log_test_support.h"
#include "support/ql_log_capture.h"

namespace {

using qltest::RecordingSink;

// Takes one line apart; an empty word marks a broken frame.
qltest::LogLine Parse(std::string const& line) {
  qltest::LogLine parsed;
  if (!qltest::ParseLogLine(line, &parsed)) parsed.word.clear();
  return parsed;
}

std::string ThisThreadId() {
  std::ostringstream id;
  id << boost::this_thread::get_id();
  return id.str();
}

// Routes the log statement into a recording sink for one test and restores
// the globals afterwards.
class LogStatementTest : public ::testing::Test {
 protected:
  void Install(int level) {
    buffer_ = boost::make_shared<QLLogBuffer>(128);
    sink_.reset(new RecordingSink());
    buffer_->AddLogger(sink_);
    QLLogSettings arguments;
    arguments.log_level = level;
    InitLogger(arguments, buffer_);
  }
  std::vector<std::string> Lines() const { return qltest::SplitLines(sink_->Joined()); }

  QLLogCapture globals_;  // restores the log stream and level
  boost::shared_ptr<QLLogBuffer> buffer_;
  boost::shared_ptr<RecordingSink> sink_;
};

TEST_F(LogStatementTest, LevelDecidesWhichStatementsRunAndEvaluate) {
  std::vector<std::string> const words = {"ERROR:", "WARN: ", "INFO: ", "DEBUG:"};
  for (int level = -1; level <= 3; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    Install(level);
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
    for (size_t i = 0; i < expected; ++i) {
      EXPECT_EQ(lines[i].substr(0, 6), words[i]);
    }
  }
  ShutdownLogger();  // without a stream nothing is written, nothing built
  int evaluated = 0;
  QL_ERROR((++evaluated, "x"));
  EXPECT_EQ(evaluated, 0);
  EXPECT_EQ(Lines().size(), 4u);
}

TEST_F(LogStatementTest, LineHasLevelWordThreadIdAndTimeStampAndDecimalNumbersAgain) {
  Install(3);
  QL_DEBUG("hello " << std::hex << 255);
  QL_INFO(255);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  qltest::LogLine debug = Parse(lines[0]);
  EXPECT_EQ(debug.word, "DEBUG:") << lines[0];
  EXPECT_EQ(debug.message, "hello ff");
  EXPECT_EQ(debug.thread_id, ThisThreadId());
  EXPECT_EQ(lines[1].substr(0, 7), "INFO: [") << "one blank after INFO:";
  EXPECT_EQ(Parse(lines[1]).message, "255") << lines[1];
}

TEST_F(LogStatementTest, ConcurrentStatementsProduceOnlyWholeLines) {
  Install(3);
  int const kThreads = 8;
  int const kPerThread = 1000;
  std::vector<std::string> ids(kThreads);
  std::vector<std::thread> threads;
  // All threads start logging together, so their statements really overlap.
  boost::barrier start(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids, &start] {
      ids[t] = ThisThreadId();
      start.wait();
      for (int n = 0; n < kPerThread; ++n) {
        // Lengths from short to several buffer loads, so lines are split into
        // pieces that could interleave.
        QL_INFO("t" << t << " n" << n << " " << std::string((n * 37 + t * 11) % 400, 'a' + t));
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::vector<int> next(kThreads, 0);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kPerThread));
  for (auto const& line : lines) {
    qltest::LogLine parsed = Parse(line);
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

}  // namespace
