// Helpers shared by the logging tests: log-line parsing and a fake zovuvoze
// command. Temporary folders and whole-file reads come from
// support/ql_temp_dir.h. All are for the test's own thread.
#ifndef QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_
#define QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_

#include <stdlib.h>
#include <sys/stat.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ql_temp_dir.h"

namespace qltest {

// Splits at '\n', each line keeping its newline; a trailing fragment is kept.
inline std::vector<std::string> SplitLines(std::string const& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size() - 1);
    lines.push_back(text.substr(start, end - start + 1));
  }
  return lines;
}

// One line of the log statement, taken apart.
struct LogLine {
  std::string word;       // six characters, e.g. "INFO: "; empty when the frame is broken
  std::string thread_id;  // as Boost prints it
  std::string message;    // without the final newline
};
// Splits "<word>[<thread id>] [<time stamp>] <message>\n". The frame is
// broken by a thread id neither hexadecimal nor "{Not-any-thread}", a stamp
// not shaped "2026.12.05 01:30:39.123", a missing or an inner newline.
inline LogLine ParseLogLine(std::string const& line) {
  static std::regex const kFrame(
      "(ERROR:|WARN: |INFO: |DEBUG:)\\[([0-9a-f]+|\\{Not-any-thread\\})\\] "
      "\\[\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ([^\n]*)\n");
  std::smatch match;
  if (!std::regex_match(line, match, kFrame)) return LogLine();
  return LogLine{match[1], match[2], match[3]};
}

// Puts a fake `zovuvoze` first on PATH for the life of the object; each run
// appends its arguments to <folder>/calls, arguments ending in \001, runs in
// \002 (log texts hold neither).
class FakeZovuvoze {
 public:
  explicit FakeZovuvoze(std::string const& folder) : calls_(folder + "/calls") {
    std::string const bin = folder + "/bin";
    if (mkdir(bin.c_str(), 0700) != 0 ||
        !WriteFileText(bin + "/zovuvoze", "#!/bin/sh\nprintf '%s\\001' \"$@\" >> '" + calls_ +
                                              "'\nprintf '\\002' >> '" + calls_ + "'\nexit 3\n") ||
        chmod((bin + "/zovuvoze").c_str(), 0700) != 0) {
      throw std::runtime_error("cannot set up the fake zovuvoze in " + folder);
    }
    old_path_ = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (bin + ":" + old_path_).c_str(), 1);
  }
  ~FakeZovuvoze() { setenv("PATH", old_path_.c_str(), 1); }
  FakeZovuvoze(FakeZovuvoze const&) = delete;
  FakeZovuvoze& operator=(FakeZovuvoze const&) = delete;

  // Arguments of every run so far, in run order.
  std::vector<std::vector<std::string>> Calls() const {
    std::vector<std::vector<std::string>> calls(1);
    std::string argument;
    for (char c : ReadFileText(calls_)) {
      if (c == '\001') {
        calls.back().push_back(argument);
        argument.clear();
      } else if (c == '\002') {
        calls.emplace_back();
      } else {
        argument += c;
      }
    }
    calls.pop_back();
    return calls;
  }
  // What the sink passes for `text`: "-s 1 -p 1 -f 1 <text>".
  static std::vector<std::string> Arguments(std::string const& text) {
    return {"-s", "1", "-p", "1", "-f", "1", text};
  }

 private:
  std::string calls_;
  std::string old_path_;
};

}  // namespace qltest

#endif  // QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_
