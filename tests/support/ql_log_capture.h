// Points the log statement at an in-memory stream for the life of the object
// (level DEBUG), restoring the previous stream and level afterwards.
//
// Any thread may log while it is installed; Text() and Count() read under
// the log statement mutex. One capture at a time per process.
#ifndef QUORLIN_TESTS_SUPPORT_QL_LOG_CAPTURE_H_
#define QUORLIN_TESTS_SUPPORT_QL_LOG_CAPTURE_H_

#include <boost/shared_ptr.hpp>
#include <ostream>
#include <sstream>
#include <string>

// How many lines of `log` start with `level_word` ("ERROR:", "WARN: ",
// "INFO: ", "DEBUG:") and end with `message`.
int CountLogLines(std::string const& log, std::string const& level_word,
                  std::string const& message);

class QLLogCapture {
 public:
  QLLogCapture();
  ~QLLogCapture();
  QLLogCapture(QLLogCapture const&) = delete;
  QLLogCapture& operator=(QLLogCapture const&) = delete;

  std::string Text() const;
  // How many captured lines contain `needle`.
  int Count(std::string const& needle) const;
  // Forgets what was captured so far.
  void Clear();

 private:
  boost::shared_ptr<std::ostream> previous_;
  int previous_level_;
  boost::shared_ptr<std::ostringstream> stream_;
};

#endif  // QUORLIN_TESTS_SUPPORT_QL_LOG_CAPTURE_H_
