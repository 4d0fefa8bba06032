#include "log_test_support.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <regex>
#include <stdexcept>

namespace qltest {

RecordingSink::RecordingSink(std::string tag, boost::shared_ptr<std::vector<std::string>> events)
    : tag_(std::move(tag)), events_(std::move(events)) {}

void RecordingSink::DoLog(std::string const& text) {
  pieces.push_back(text);
  if (events_) events_->push_back(tag_ + ":" + text);
}

RecordingSink::~RecordingSink() {
  if (events_) events_->push_back(tag_ + ":destroyed");
}

std::string RecordingSink::Joined() const {
  std::string all;
  for (auto const& piece : pieces) all += piece;
  return all;
}

bool FileExists(std::string const& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> SplitLines(std::string const& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

bool MatchesMask(std::string const& text, std::string const& mask) {
  if (text.size() != mask.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    int c = static_cast<unsigned char>(text[i]);
    char m = mask[i];
    bool ok = m == 'D'   ? isdigit(c) != 0
              : m == 'A' ? isupper(c) != 0
              : m == 'a' ? islower(c) != 0
              : m == '_' ? c == ' ' || isdigit(c) != 0
                         : text[i] == m;
    if (!ok) return false;
  }
  return true;
}

bool ParseLogLine(std::string const& line, LogLine* out) {
  static std::regex const kFrame(
      "(ERROR:|WARN: |INFO: |DEBUG:)\\[([0-9a-f]+|\\{Not-any-thread\\})\\] "
      "\\[(\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})\\] ([^\n]*)\n");
  std::smatch match;
  if (!std::regex_match(line, match, kFrame)) return false;
  *out = LogLine{match[1], match[2], match[3], match[4]};
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

FakeZovuvoze::FakeZovuvoze(std::string const& folder) : calls_(folder + "/calls") {
  std::string bin = folder + "/bin";
  if (mkdir(bin.c_str(), 0700) != 0 || mkdir(calls_.c_str(), 0700) != 0 ||
      !WriteFileText(bin + "/zovuvoze",
                     "#!/bin/sh\n"
                     "calls='" +
                         calls_ +
                         "'\n"
                         "run=$(ls \"$calls\" | wc -l)\n"
                         "mkdir \"$calls/$run\"\n"
                         "i=0\n"
                         "for a in \"$@\"; do\n"
                         "  i=$((i+1))\n"
                         "  printf '%s' \"$a\" > \"$calls/$run/$i\"\n"
                         "done\n"
                         "exit 3\n") ||
      chmod((bin + "/zovuvoze").c_str(), 0700) != 0) {
    throw std::runtime_error("cannot set up the fake zovuvoze in " + folder);
  }
  char const* old_path = getenv("PATH");
  path_.reset(new ScopedEnv("PATH", bin + ":" + (old_path ? old_path : "/usr/bin:/bin")));
}

std::vector<std::vector<std::string>> FakeZovuvoze::Calls() const {
  std::vector<std::vector<std::string>> calls;
  for (int run = 0;; ++run) {
    std::string folder = calls_ + "/" + std::to_string(run);
    if (!FileExists(folder)) break;
    std::vector<std::string> arguments;
    for (int i = 1; FileExists(folder + "/" + std::to_string(i)); ++i) {
      arguments.push_back(ReadFileText(folder + "/" + std::to_string(i)));
    }
    calls.push_back(arguments);
  }
  return calls;
}

std::vector<std::string> FakeZovuvoze::Arguments(std::string const& text) {
  return {"-s", "1", "-p", "1", "-f", "1", text};
}

}  // namespace qltest
