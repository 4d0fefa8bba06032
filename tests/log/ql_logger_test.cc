#include "log/ql_logger.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <regex>
#include <string>

#include "log_test_support.h"

namespace {

// ctime() without its newline: "Sat Dec  5 01:30:39 2026".
char const kCtime[] = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] \\d\\d:\\d\\d:\\d\\d \\d{4}";

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

}  // namespace
