#include "log/ql_log2zovuvoze.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

using qltest::FileExists;
using qltest::ReadFile;

// Puts a fake `zovuvoze` first on PATH. Each run stores its arguments, byte
// for byte, as <dir>/calls/<run>/<argument number>.
class QLLog2ZovuvozeTest : public ::testing::Test {
 protected:
  QLLog2ZovuvozeTest() {
    std::string bin = dir_.File("bin");
    mkdir(bin.c_str(), 0700);
    mkdir(dir_.File("calls").c_str(), 0700);
    std::string script = bin + "/zovuvoze";
    qltest::WriteFile(script,
                      "#!/bin/sh\n"
                      "calls='" +
                          dir_.File("calls") +
                          "'\n"
                          "run=$(ls \"$calls\" | wc -l)\n"
                          "mkdir \"$calls/$run\"\n"
                          "i=0\n"
                          "for a in \"$@\"; do\n"
                          "  i=$((i+1))\n"
                          "  printf '%s' \"$a\" > \"$calls/$run/$i\"\n"
                          "done\n"
                          "exit 3\n");
    chmod(script.c_str(), 0700);
    char const* old_path = getenv("PATH");
    path_.reset(new qltest::ScopedEnv("PATH", bin + ":" + (old_path ? old_path : "/usr/bin:/bin")));
  }

  // Arguments of every run so far, in run order.
  std::vector<std::vector<std::string>> Calls() const {
    std::vector<std::vector<std::string>> calls;
    for (int run = 0;; ++run) {
      std::string folder = dir_.File("calls/" + std::to_string(run));
      if (!FileExists(folder)) break;
      std::vector<std::string> arguments;
      for (int i = 1; FileExists(folder + "/" + std::to_string(i)); ++i) {
        arguments.push_back(ReadFile(folder + "/" + std::to_string(i)));
      }
      calls.push_back(arguments);
    }
    return calls;
  }

  static std::vector<std::string> Arguments(std::string const& text) {
    return {"-s", "1", "-p", "1", "-f", "1", text};
  }

  qltest::TempDir dir_;
  std::unique_ptr<qltest::ScopedEnv> path_;
};

TEST_F(QLLog2ZovuvozeTest, AnnouncesStartAndEndThroughTheCommand) {
  { QLLog2Zovuvoze sink; }
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], Arguments("Log started!"));
  EXPECT_EQ(calls[1], Arguments("Log ended!"));
}

TEST_F(QLLog2ZovuvozeTest, PassesTheThreeValuesInOrder) {
  QLLog2Zovuvoze sink(2, 30, -4);
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0],
            (std::vector<std::string>{"-s", "2", "-p", "30", "-f", "-4", "Log started!"}));
}

TEST_F(QLLog2ZovuvozeTest, LineWithItsNewlineIsOneArgument) {
  QLLog2Zovuvoze sink;
  sink.DoLog("INFO: [x] two words\n");
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], Arguments("INFO: [x] two words\n"));
}

TEST_F(QLLog2ZovuvozeTest, EmptyTextGivesEmptyArgument) {
  QLLog2Zovuvoze sink;
  sink.DoLog("");
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], Arguments(""));
}

TEST_F(QLLog2ZovuvozeTest, QuotesInTheTextNeverReachTheShell) {
  std::string marker = dir_.File("x");
  std::vector<std::string> texts = {
      "'; touch " + marker + "; '",
      "it's",
      "''",
      "'",
      "a'\\''b",
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "'$(touch " + marker + ")'\n",
      "\"; touch " + marker + "; \"",
  };
  {
    QLLog2Zovuvoze sink;
    for (auto const& text : texts) sink.DoLog(text);
  }
  EXPECT_FALSE(FileExists(marker)) << "a log text ran as a command";
  auto calls = Calls();
  ASSERT_EQ(calls.size(), texts.size() + 2);
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(calls[i + 1], Arguments(texts[i])) << texts[i];
  }
}

TEST_F(QLLog2ZovuvozeTest, NulCharactersAreDroppedNotCuttingTheQuote) {
  std::string marker = dir_.File("y");
  QLLog2Zovuvoze sink;
  sink.DoLog(std::string("a'\0; touch ", 11) + marker + "; '");
  EXPECT_FALSE(FileExists(marker));
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], Arguments("a'; touch " + marker + "; '"));
}

}  // namespace
