#include "log_test_support.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <stdexcept>

namespace qltest {

RecordingSink::RecordingSink(std::string tag, boost::shared_ptr<std::vector<std::string>> events)
    : tag_(std::move(tag)), events_(std::move(events)) {}

RecordingSink::~RecordingSink() {
  if (events_) events_->push_back(tag_ + ":destroyed");
}

void RecordingSink::DoLog(std::string const& text) {
  pieces.push_back(text);
  if (events_) events_->push_back(tag_ + ":" + text);
}

std::string RecordingSink::Joined() const {
  std::string all;
  for (auto const& piece : pieces) all += piece;
  return all;
}

std::vector<std::string> SplitLines(std::string const& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size() - 1);
    lines.push_back(text.substr(start, end - start + 1));
  }
  return lines;
}

bool ParseLogLine(std::string const& line, LogLine* out) {
  static std::regex const kFrame(
      "(ERROR:|WARN: |INFO: |DEBUG:)\\[([0-9a-f]+|\\{Not-any-thread\\})\\] "
      "\\[\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ([^\n]*)\n");
  std::smatch match;
  if (!std::regex_match(line, match, kFrame)) return false;
  *out = LogLine{match[1], match[2], match[3]};
  return true;
}

ScopedEnv::ScopedEnv(std::string name, std::string const& value) : name_(std::move(name)) {
  char const* old = getenv(name_.c_str());
  had_value_ = old != nullptr;
  if (had_value_) old_value_ = old;
  setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_value_) {
    setenv(name_.c_str(), old_value_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

// Arguments end in \001, runs in \002: log texts hold neither.
FakeZovuvoze::FakeZovuvoze(std::string const& folder) : calls_(folder + "/calls") {
  std::string const bin = folder + "/bin";
  if (mkdir(bin.c_str(), 0700) != 0 ||
      !WriteFileText(bin + "/zovuvoze", "#!/bin/sh\nprintf '%s\\001' \"$@\" >> '" + calls_ +
                                            "'\nprintf '\\002' >> '" + calls_ + "'\nexit 3\n") ||
      chmod((bin + "/zovuvoze").c_str(), 0700) != 0) {
    throw std::runtime_error("cannot set up the fake zovuvoze in " + folder);
  }
  char const* old_path = getenv("PATH");
  path_.reset(new ScopedEnv("PATH", bin + ":" + (old_path ? old_path : "/usr/bin:/bin")));
}

std::vector<std::vector<std::string>> FakeZovuvoze::Calls() const {
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

std::vector<std::string> FakeZovuvoze::Arguments(std::string const& text) {
  return {"-s", "1", "-p", "1", "-f", "1", text};
}

}  // namespace qltest
