// The one command-line parser, in both modes, over a table of command lines.
#include "base/ql_command_line_option.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
  QLCommandLineMode mode;
  std::vector<std::string> words;
  bool ok;
  std::string applied;  // what the options took in, in order; +operand
  std::string said;     // *error (tools) or standard error (daemon), in part
};

TEST(CommandLineTest, WordsAreTakenOrRefusedAsEachModeSays) {
  QLCommandLineMode const kTool = QLCommandLineMode::kStopAtFirstError;
  QLCommandLineMode const kDaemon = QLCommandLineMode::kReportAndGoOn;
  Case const cases[] = {
      {kTool,
       {"--count", "5", "-nfoo", "--count=7", "-n", "bar", "--cou", "9"},
       true,
       "count=5 name=foo count=7 name=bar count=9 ",
       ""},
      {kTool, {"a", "--flag", "b", "--", "--flag"}, true, "flag=- +a +b +--flag ", ""},
      {kTool, {"--mode", "--mode=x", "--mode", "y"}, true, "mode=- mode=x mode=- +y ", ""},
      {kTool, {"--count", "0x5"}, false, "", "--count must be 1 to 9, not \"0x5\""},
      {kTool, {"--count", "+5"}, false, "", "--count must be"},
      {kTool, {"--name", "x", "--count"}, false, "name=x ", "--count needs a value"},
      {kTool, {"-n"}, false, "", "--name needs a value"},
      {kTool, {"--flag=1"}, false, "", "--flag takes no value"},
      {kTool, {"--bogus", "--flag"}, false, "", "unknown option \"--bogus\""},
      {kTool, {"--c", "1"}, false, "", "unknown option"},  // count or cut: ambiguous
      {kTool, {"--cut", "3"}, false, "cut=3 ", "--cut wants 1"},
      {kDaemon,
       {"--count", "0", "--flag", "x"},
       true,
       "flag=- +x ",
       "prog: ignoring --count '0' (expected 1 to 9)"},
      {kDaemon, {"--bogus", "-z", "--flag"}, true, "flag=- ", "unrecognized option"},
      {kDaemon, {"--flag", "--name"}, false, "flag=- ", "requires an argument"},
      {kDaemon, {"--flag=1", "--count", "2"}, false, "", "allow an argument"},
  };
  for (Case const& c : cases) {
    std::string applied;
    std::string error;
    // Each option records what it took; "cut" refuses with a message of its own.
    std::vector<QLCommandLineOption> options(4);
    char const* const names[] = {"name", "flag", "mode", "cut"};
    for (std::size_t i = 0; i < options.size(); ++i) {
      options[i].name = names[i];
      options[i].apply = [&, i](char const* value) {
        applied += std::string(names[i]) + "=" + (value ? value : "-") + " ";
        return i < 3 || (error = "--cut wants 1").empty();
      };
    }
    options[0].takes_value = options[3].takes_value = true;
    options[0].letter = 'n';
    options[2].value_optional = true;
    options.push_back(NumberOption("count", 1, 9, "1 to 9", [&](std::uint64_t n) {
      applied += "count=" + std::to_string(n) + " ";
    }));

    std::vector<char*> argv{const_cast<char*>("prog")};
    std::vector<std::string> words = c.words;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::vector<std::string> operands;
    testing::internal::CaptureStderr();
    bool const ok = ParseCommandLine(static_cast<int>(words.size()) + 1, argv.data(), options,
                                     c.mode, &operands, &error);
    std::string const said = testing::internal::GetCapturedStderr() + error;
    for (std::string const& operand : operands) applied += "+" + operand + " ";
    std::string const line = testing::PrintToString(c.words);
    EXPECT_EQ(c.ok, ok) << line;
    EXPECT_EQ(c.applied, applied) << line;
    EXPECT_TRUE(c.said.empty() ? said.empty() : said.find(c.said) != std::string::npos)
        << line << ": " << said;
  }
}

}  // namespace
