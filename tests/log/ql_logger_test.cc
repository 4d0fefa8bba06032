#include "log/ql_logger.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <utility>

#include "log_test_support.h"

namespace {

// ctime() without its newline: "Sat Dec  5 01:30:39 2026".
char const kCtime[] = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] \\d\\d:\\d\\d:\\d\\d \\d{4}";

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A calendar time read in UTC.
struct timeval At(int year, int month, int day, int hour, int minute, int second, long micro) {
  struct tm when = {};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  return {timegm(&when), micro};
}

// Fields are zero-padded, milliseconds cut (not rounded), in the local zone.
TEST(CurrentTimeTest, FormatsLocalTimeWithZeroPaddedFieldsAndMilliseconds) {
  struct Case {
    char const* zone;
    struct timeval when;
    char const* stamp;
  } const cases[] = {
      {"UTC0", At(2027, 1, 2, 3, 4, 5, 120000), "2027.01.02 03:04:05.120"},
      {"UTC0", At(2026, 12, 5, 1, 30, 39, 7000), "2026.12.05 01:30:39.700"},
      {"XYZ-2", At(2026, 12, 5, 23, 0, 0, 0), "2026.12.06 01:00:00.000"},  // two hours east
  };
  for (auto const& c : cases) {
    setenv("TZ", c.zone, 1);
    tzset();
    EXPECT_EQ(FormatTimeStamp(c.when), c.stamp) << c.stamp;
  }
  unsetenv("TZ");
  tzset();
}

TEST(QLTimerTest, ElapsedTimeIsSecondsWithSixDecimals) {
  struct Case {
    struct timeval start;
    struct timeval end;
    char const* text;
  } const cases[] = {
      {{41, 900000}, {42, 100000}, "0.200000 s\n"},  // borrows a second
      {{0, 0}, {3723, 1}, "3723.000001 s\n"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(QLTimer::FormatElapsed(QLTimer::Elapsed(c.start, c.end)), c.text) << c.text;
  }
}

class QLLogPrintTest : public ::testing::Test {
 protected:
  QLLogPrintTest() { SetFallbackLogPathForTesting(dir_.File("quorlin_log.txt")); }
  ~QLLogPrintTest() override { SetFallbackLogPathForTesting(""); }

  std::string Log() const { return ReadFileText(dir_.File("quorlin_log.txt")); }

  // "(<thread>)[<ctime text> <file> <line> <function>] <message>\n"
  static testing::AssertionResult IsLine(std::string const& line, char const* file, int number,
                                         char const* function, std::string const& message) {
    std::string const head =
        "(" + std::to_string(static_cast<unsigned long>(pthread_self())) + ")[";
    std::string const tail = std::string(" ") + file + " " + std::to_string(number) + " " +
                             function + "] " + message + "\n";
    size_t const time_length = 24;
    if (line.size() != head.size() + time_length + tail.size() ||
        line.compare(0, head.size(), head) != 0 ||
        !std::regex_match(line.substr(head.size(), time_length), std::regex(kCtime)) ||
        line.compare(head.size() + time_length, std::string::npos, tail) != 0) {
      return testing::AssertionFailure() << "unexpected line: " << line;
    }
    return testing::AssertionSuccess();
  }

  QLTempDir dir_;
};

TEST_F(QLLogPrintTest, EachCallAppendsOneLineEmptyIsNotedLongIsCutTo2047) {
  ql_log_print("worker.cc", 42, "Run", "count=%d name=%s", 7, "abc");
  std::string after_first = Log();
  ql_log_print("worker.cc", 43, "Stop", "%s", "");
  ql_log_print("f.cc", 1, "F", "%s", std::string(3000, 'm').c_str());
  char const* const no_format = nullptr;
  ql_log_print("worker.cc", 44, "Null", no_format);

  auto lines = qltest::SplitLines(Log());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], after_first) << "the first line must be complete after its call";
  EXPECT_TRUE(IsLine(lines[0], "worker.cc", 42, "Run", "count=7 name=abc"));
  EXPECT_TRUE(IsLine(lines[1], "worker.cc", 43, "Stop", "LOGGER: problem with line!"));
  EXPECT_TRUE(IsLine(lines[2], "f.cc", 1, "F", std::string(2047, 'm'))) << "cut to 2047";
  EXPECT_TRUE(IsLine(lines[3], "worker.cc", 44, "Null", "LOGGER: problem with line!"));
}

TEST_F(QLLogPrintTest, FailuresAreReportedAndEveryCallOpensTheFileAnew) {
  for (auto const& c : {std::make_pair(dir_.File("missing/x.txt"), "Error creating the logs!"),
                        std::make_pair(std::string("/dev/full"), "LOGGER: write error!")}) {
    SetFallbackLogPathForTesting(c.first);
    CaptureStdout();
    ql_log_print("f.cc", 1, "F", "lost");
    EXPECT_EQ(GetCapturedStdout(), c.second);
  }
  SetFallbackLogPathForTesting(dir_.File("quorlin_log.txt"));
  ql_log_print("f.cc", 1, "F", "one");
  // Every call opens the file anew: a file removed between calls does not
  // swallow the next line into an unlinked descriptor.
  ASSERT_EQ(unlink(dir_.File("quorlin_log.txt").c_str()), 0);
  ql_log_print("f.cc", 2, "F", "kept");
  EXPECT_TRUE(IsLine(Log(), "f.cc", 2, "F", "kept"));
}

}  // namespace
