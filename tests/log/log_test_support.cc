#include "log_test_support.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "log/ql_log.h"

namespace qltest {

TempDir::TempDir() {
  char const* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ql_log_test_XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

TempDir::~TempDir() {
  boost::system::error_code error;
  boost::filesystem::remove_all(path_, error);
}

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

std::string ReadFile(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool FileExists(std::string const& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

void WriteFile(std::string const& path, std::string const& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
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
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool ok;
    switch (mask[i]) {
      case 'D':
        ok = isdigit(c) != 0;
        break;
      case 'A':
        ok = isupper(c) != 0;
        break;
      case 'a':
        ok = islower(c) != 0;
        break;
      case '_':
        ok = c == ' ' || isdigit(c) != 0;
        break;
      default:
        ok = text[i] == mask[i];
    }
    if (!ok) return false;
  }
  return true;
}

bool ParseLogLine(std::string const& line, LogLine* out) {
  size_t const kWord = 6;
  size_t const kStamp = sizeof kTimeStampMask - 1;
  if (line.size() < kWord + 1 || line[kWord] != '[' || line.back() != '\n') return false;
  size_t id_end = line.find("] [", kWord + 1);
  if (id_end == std::string::npos || id_end == kWord + 1) return false;
  std::string id = line.substr(kWord + 1, id_end - kWord - 1);
  if (id != "{Not-any-thread}" && id.find_first_not_of("0123456789abcdef") != std::string::npos) {
    return false;
  }
  size_t stamp_start = id_end + 3;
  if (line.size() < stamp_start + kStamp + 3) return false;
  std::string stamp = line.substr(stamp_start, kStamp);
  if (!MatchesMask(stamp, kTimeStampMask)) return false;
  if (line.compare(stamp_start + kStamp, 2, "] ") != 0) return false;
  std::string message = line.substr(stamp_start + kStamp + 2);
  message.pop_back();
  if (message.find('\n') != std::string::npos) return false;
  out->word = line.substr(0, kWord);
  out->thread_id = id;
  out->stamp = stamp;
  out->message = message;
  return true;
}

LogGlobalsGuard::LogGlobalsGuard() : level_(ql_log_level) {
  boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
  stream_ = qlloggeros;
}

LogGlobalsGuard::~LogGlobalsGuard() {
  boost::shared_ptr<std::ostream> current;
  {
    boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
    current.swap(qlloggeros);
    qlloggeros = stream_;
  }
  ql_log_level = level_;
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

ScopedChdir::ScopedChdir(std::string const& path) {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) throw std::runtime_error("getcwd failed");
  old_ = buffer;
  if (chdir(path.c_str()) != 0) throw std::runtime_error("chdir failed: " + path);
}

ScopedChdir::~ScopedChdir() {
  if (chdir(old_.c_str()) != 0) {
    // Nothing sensible left to do in a destructor; later tests use absolute paths.
  }
}

}  // namespace qltest
