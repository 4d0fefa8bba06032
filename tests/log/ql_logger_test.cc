#include "log/ql_logger.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "log_test_support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Runs the test in UTC so a calendar time maps to a known clock reading.
class CurrentTimeTest : public ::testing::Test {
 protected:
  CurrentTimeTest() : tz_(new qltest::ScopedEnv("TZ", "UTC0")) { tzset(); }
  ~CurrentTimeTest() override {
    tz_.reset();
    tzset();
  }

  static struct timeval At(int year, int month, int day, int hour, int minute, int second,
                           long microseconds) {
    struct tm when = {};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    struct timeval reading;
    reading.tv_sec = timegm(&when);
    reading.tv_usec = microseconds;
    return reading;
  }

  std::unique_ptr<qltest::ScopedEnv> tz_;
};

TEST_F(CurrentTimeTest, FieldsAreZeroPaddedAndMillisecondsPaddedOnTheRight) {
  struct Case {
    struct timeval when;
    char const* stamp;
  } const cases[] = {
      {At(2027, 1, 2, 3, 4, 5, 120000), "2027.01.02 03:04:05.120"},
      {At(2026, 12, 31, 23, 59, 58, 999999), "2026.12.31 23:59:58.999"},
      {At(2026, 12, 5, 1, 30, 39, 7000), "2026.12.05 01:30:39.700"},
      {At(2026, 12, 5, 1, 30, 39, 999), "2026.12.05 01:30:39.000"},
  };
  for (auto const& c : cases) EXPECT_EQ(FormatTimeStamp(c.when), c.stamp) << c.stamp;
}

TEST_F(CurrentTimeTest, FollowsTheLocalTimeZone) {
  qltest::ScopedEnv zone("TZ", "XYZ-2");  // two hours east of UTC
  tzset();
  EXPECT_EQ(FormatTimeStamp(At(2026, 12, 5, 23, 0, 0, 0)), "2026.12.06 01:00:00.000");
}

TEST(QLTimerTest, ElapsedTimeIsSecondsWithSixDecimals) {
  struct Case {
    struct timeval start;
    struct timeval end;
    char const* text;
  } const cases[] = {
      {{41, 900000}, {42, 100000}, "0.200000 s\n"},  // borrows a second
      {{100, 250000}, {101, 750000}, "1.500000 s\n"},
      {{101, 750000}, {101, 750000}, "0.000000 s\n"},
      {{0, 0}, {3723, 1}, "3723.000001 s\n"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(QLTimer::FormatElapsed(QLTimer::Elapsed(c.start, c.end)), c.text) << c.text;
  }
}

TEST(PrintTimeTest, IsTheCtimeTextWithoutItsNewline) {
  char* text = print_time();
  ASSERT_NE(text, nullptr);
  std::string shown(text);
  free(text);
  EXPECT_EQ(shown.size(), 24u);
  EXPECT_TRUE(qltest::MatchesMask(shown, qltest::kCtimeMask)) << shown;
}

class QLLogPrintTest : public ::testing::Test {
 protected:
  QLLogPrintTest() { SetFallbackLogPathForTesting(dir_.File("quorlin_log.txt")); }
  ~QLLogPrintTest() override { SetFallbackLogPathForTesting(""); }

  std::string Log() const { return ReadFileText(dir_.File("quorlin_log.txt")); }

  // "(<thread>)[<ctime text> <file> <line> <function>] <message>\n"
  static testing::AssertionResult IsLine(std::string const& line, char const* file, int number,
                                         char const* function, std::string const& message) {
    std::string head = "(" + std::to_string(static_cast<unsigned long>(pthread_self())) + ")[";
    std::string tail = std::string(" ") + file + " " + std::to_string(number) + " " + function +
                       "] " + message + "\n";
    size_t const time_length = sizeof qltest::kCtimeMask - 1;
    if (line.size() != head.size() + time_length + tail.size() ||
        line.compare(0, head.size(), head) != 0 ||
        !qltest::MatchesMask(line.substr(head.size(), time_length), qltest::kCtimeMask) ||
        line.compare(head.size() + time_length, std::string::npos, tail) != 0) {
      return testing::AssertionFailure() << "unexpected line: " << line;
    }
    return testing::AssertionSuccess();
  }

  QLTempDir dir_;
};

TEST_F(QLLogPrintTest, EachCallAppendsOneCompleteLineAndAnEmptyMessageIsNoted) {
  ql_log_print("worker.cc", 42, "Run", "count=%d name=%s", 7, "abc");
  std::string after_first = Log();
  ql_log_print("worker.cc", 43, "Stop", "%s", "");

  auto lines = qltest::SplitLines(Log());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], after_first) << "the first line must be complete after its call";
  EXPECT_TRUE(IsLine(lines[0], "worker.cc", 42, "Run", "count=7 name=abc"));
  EXPECT_TRUE(IsLine(lines[1], "worker.cc", 43, "Stop", "LOGGER: problem with line!"));
}

TEST_F(QLLogPrintTest, LongMessageIsCutTo2047Characters) {
  std::string message(3000, 'm');
  ql_log_print("f.cc", 1, "F", "%s", message.c_str());
  std::string line = Log();
  size_t start = line.find("] ");
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(line.substr(start + 2), std::string(2047, 'm') + "\n");
}

TEST_F(QLLogPrintTest, OpenOrWriteFailureIsReportedAndTheProcessGoesOn) {
  struct Case {
    std::string path;
    char const* report;
  } const cases[] = {
      {dir_.File("missing/quorlin_log.txt"), "Error creating the logs!"},
      {"/dev/full", "LOGGER: write error!"},
  };
  for (auto const& c : cases) {
    SetFallbackLogPathForTesting(c.path);
    CaptureStdout();
    ql_log_print("f.cc", 1, "F", "lost");
    EXPECT_EQ(GetCapturedStdout(), c.report);
  }
  SetFallbackLogPathForTesting(dir_.File("quorlin_log.txt"));
  ql_log_print("f.cc", 2, "F", "kept");
  EXPECT_TRUE(IsLine(Log(), "f.cc", 2, "F", "kept"));
}

TEST_F(QLLogPrintTest, FileIsClosedBetweenCalls) {
  ql_log_print("f.cc", 1, "F", "one");
  // Removing the file between calls must not lose the second line into an
  // unlinked descriptor: every call opens the file anew.
  ASSERT_EQ(unlink(dir_.File("quorlin_log.txt").c_str()), 0);
  ql_log_print("f.cc", 2, "F", "two");
  auto lines = qltest::SplitLines(Log());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("] two\n"), std::string::npos);
}

}  // namespace
