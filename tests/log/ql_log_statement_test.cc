// The log statement as InitLogger sets it up: many threads logging at once
// still give whole lines, each with its own thread id.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/thread/barrier.hpp>
#include <boost/thread/thread.hpp>
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

std::string ThisThreadId() {
  std::ostringstream id;
  id << boost::this_thread::get_id();
  return id.str();
}

class LogStatementTest : public ::testing::Test {
 protected:
  // Logs at `level` into "gd.log" in the scratch folder.
  void Install(int level) {
    settings_.log_level = level;
    settings_.log_file_path = dir_.File("gd.log");
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

}  // namespace
