#include "log/ql_log2zovuvoze.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

using qltest::FakeZovuvoze;
using qltest::FileExists;

class QLLog2ZovuvozeTest : public ::testing::Test {
 protected:
  QLTempDir dir_;
  FakeZovuvoze command_{dir_.path()};
};

TEST_F(QLLog2ZovuvozeTest, AnnouncesStartAndEndThroughTheCommand) {
  { QLLog2Zovuvoze sink; }
  EXPECT_EQ(command_.Calls(),
            (std::vector<std::vector<std::string>>{FakeZovuvoze::Arguments("Log started!"),
                                                   FakeZovuvoze::Arguments("Log ended!")}));
}

TEST_F(QLLog2ZovuvozeTest, PassesTheThreeValuesInOrder) {
  QLLog2Zovuvoze sink(2, 30, -4);
  auto calls = command_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0],
            (std::vector<std::string>{"-s", "2", "-p", "30", "-f", "-4", "Log started!"}));
}

TEST_F(QLLog2ZovuvozeTest, EachTextIsOneArgumentAndNeverReachesTheShell) {
  std::string marker = dir_.File("x");
  struct Case {
    std::string text;
    std::string argument;  // what the command must receive
  } const cases[] = {
      {"INFO: [x] two words\n", "INFO: [x] two words\n"},
      {"", ""},
      {"'; touch " + marker + "; '", "'; touch " + marker + "; '"},
      {"it's", "it's"},
      {"''", "''"},
      {"'", "'"},
      {"a'\\''b", "a'\\''b"},
      {"$(touch " + marker + ")", "$(touch " + marker + ")"},
      {"`touch " + marker + "`", "`touch " + marker + "`"},
      {"'$(touch " + marker + ")'\n", "'$(touch " + marker + ")'\n"},
      {"\"; touch " + marker + "; \"", "\"; touch " + marker + "; \""},
      // NUL characters are dropped; they must not cut the quoting short.
      {std::string("a'\0; touch ", 11) + marker + "; '", "a'; touch " + marker + "; '"},
  };
  {
    QLLog2Zovuvoze sink;
    for (auto const& c : cases) sink.DoLog(c.text);
  }
  EXPECT_FALSE(FileExists(marker)) << "a log text ran as a command";
  auto calls = command_.Calls();
  ASSERT_EQ(calls.size(), sizeof cases / sizeof cases[0] + 2);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(calls[i + 1], FakeZovuvoze::Arguments(cases[i].argument)) << cases[i].argument;
  }
}

}  // namespace
