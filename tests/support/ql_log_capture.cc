#include "support/ql_log_capture.h"

#include <boost/thread/lock_guard.hpp>

#include "log/ql_log.h"

QLLogCapture::QLLogCapture() : stream_(new std::ostringstream) {
  boost::lock_guard<boost::recursive_mutex> lock(QLLogStatementMutex());
  previous_ = qlloggeros;
  previous_level_ = ql_log_level;
  qlloggeros = stream_;
  // Written only when it changes: worker threads of a finished test may still
  // read the level.
  if (ql_log_level != 3) ql_log_level = 3;
}

QLLogCapture::~QLLogCapture() {
  boost::lock_guard<boost::recursive_mutex> lock(QLLogStatementMutex());
  qlloggeros = previous_;
  if (ql_log_level != previous_level_) ql_log_level = previous_level_;
}

std::string QLLogCapture::Text() const {
  boost::lock_guard<boost::recursive_mutex> lock(QLLogStatementMutex());
  return stream_->str();
}

int QLLogCapture::Count(std::string const& needle) const {
  std::istringstream lines(Text());
  int count = 0;
  for (std::string line; std::getline(lines, line);)
    count += line.find(needle) != std::string::npos;
  return count;
}

int CountLogLines(std::string const& log, std::string const& level_word,
                  std::string const& message) {
  std::istringstream lines(log);
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    count += line.compare(0, level_word.size(), level_word) == 0 && line.size() >= message.size() &&
             line.compare(line.size() - message.size(), message.size(), message) == 0;
  }
  return count;
}

void QLLogCapture::Clear() {
  boost::lock_guard<boost::recursive_mutex> lock(QLLogStatementMutex());
  stream_->str("");
}
