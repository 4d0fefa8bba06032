#include "log/ql_log2zovuvoze.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "log/ql_init_logger.h"
#include "log/ql_log.h"
#include "log_test_support.h"
#include "support/ql_log_capture.h"

namespace {

using qltest::FakeZovuvoze;

class QLLog2ZovuvozeTest : public ::testing::Test {
 protected:
  QLTempDir dir_;
  FakeZovuvoze command_{dir_.path()};
};

TEST_F(QLLog2ZovuvozeTest, EachTextIsOneArgumentAndNeverReachesTheShell) {
  std::string marker = dir_.File("x");
  struct Case {
    std::string text;
    std::string argument;  // what the command must receive
  } const cases[] = {
      {"INFO: [x] two words\n", "INFO: [x] two words\n"},
      {"'; touch " + marker + "; '", "'; touch " + marker + "; '"},
      {"$(touch " + marker + ")", "$(touch " + marker + ")"},
      {"\"; touch " + marker + "; \"", "\"; touch " + marker + "; \""},
      // NUL characters are dropped; they must not cut the quoting short.
      {std::string("a'\0; touch ", 11) + marker + "; '", "a'; touch " + marker + "; '"},
  };
  {
    QLLog2Zovuvoze sink;
    for (auto const& c : cases) sink.DoLog(c.text);
  }
  EXPECT_NE(0, access(marker.c_str(), F_OK)) << "a log text ran as a command";
  auto calls = command_.Calls();
  ASSERT_EQ(calls.size(), sizeof cases / sizeof cases[0] + 2);
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(calls[i + 1], FakeZovuvoze::Arguments(cases[i].argument)) << cases[i].argument;
  }
}

}  // namespace
