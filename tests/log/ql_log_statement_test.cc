#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/thread/thread.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/ql_init_logger.h"
#include "log/ql_log.h"
#include "log/ql_log_buffer.h"
#include "log_test_support.h"

namespace {

using qltest::RecordingSink;

// One log line: level word, "[" thread id "] [" time stamp "] ", message.
std::string const kThreadId = R"((?:[0-9a-f]+|\{Not-any-thread\}))";
std::string const kStamp = R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\.\d{3})";

std::string LinePattern(std::string const& word, std::string const& message) {
  return word + R"(\[)" + kThreadId + R"(\] \[)" + kStamp + R"(\] )" + message + "\n";
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
    QLArguments arguments;
    arguments.log_level = level;
    InitLogger(arguments, buffer_);
  }
  std::vector<std::string> Lines() const { return qltest::SplitLines(sink_->Joined()); }

  qltest::LogGlobalsGuard globals_;
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
}

TEST_F(LogStatementTest, LineHasLevelWordThreadIdAndTimeStamp) {
  Install(3);
  QL_DEBUG("hello " << 42);
  QL_INFO("info");
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(LinePattern("DEBUG:", "hello 42"))))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(LinePattern("INFO: ", "info")))) << lines[1];
  EXPECT_EQ(lines[0].substr(0, 7), "DEBUG:[") << "no blank after DEBUG:";
  EXPECT_EQ(lines[1].substr(0, 7), "INFO: [") << "one blank after INFO:";
  EXPECT_EQ(lines[0].substr(7, ThisThreadId().size() + 1), ThisThreadId() + "]");
}

TEST_F(LogStatementTest, NumbersAreDecimalAgainInTheNextStatement) {
  Install(3);
  QL_ERROR(std::hex << 255);
  QL_ERROR(255);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(LinePattern("ERROR:", "ff")))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(LinePattern("ERROR:", "255")))) << lines[1];
}

TEST_F(LogStatementTest, StatementWithoutStreamWritesNothingAndBuildsNothing) {
  Install(3);
  ShutdownLogger();
  int evaluated = 0;
  QL_ERROR((++evaluated, "x"));
  EXPECT_EQ(evaluated, 0);
  EXPECT_TRUE(sink_->pieces.empty());
}

TEST_F(LogStatementTest, ConcurrentStatementsProduceOnlyWholeLines) {
  Install(3);
  int const kThreads = 8;
  int const kPerThread = 60;
  std::vector<std::string> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      ids[t] = ThisThreadId();
      for (int n = 0; n < kPerThread; ++n) {
        // Lengths from short to several buffer loads, so lines are split into
        // pieces that could interleave.
        QL_INFO("t" << t << " n" << n << " " << std::string((n * 37 + t * 11) % 400, 'a' + t));
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::regex shape(LinePattern("INFO: ", R"(t(\d) n(\d+) ([a-z]*))"));
  std::vector<int> next(kThreads, 0);
  auto lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kPerThread));
  for (auto const& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    int t = std::stoi(match[1]);
    int n = std::stoi(match[2]);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(n, next[t]) << "lines of one thread keep their order";
    next[t] = n + 1;
    EXPECT_EQ(match[3].str(), std::string((n * 37 + t * 11) % 400, 'a' + t));
    EXPECT_EQ(line.substr(6, ids[t].size() + 2), "[" + ids[t] + "]");
  }
}

}  // namespace
