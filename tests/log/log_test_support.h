// Helpers shared by the logging tests: a recording sink, a fake zovuvoze
// command, log-line parsing, and a guard that restores an environment
// variable. Temporary folders and whole-file reads come from
// support/ql_temp_dir.h; support/ql_log_capture.h saves and restores the log
// globals.
//
// All helpers are for the test's own thread; RecordingSink is filled under
// the log buffer's mutex and read after the writers have finished.
#ifndef QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_
#define QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_

#include <boost/shared_ptr.hpp>
#include <memory>
#include <string>
#include <vector>

#include "log/ql_log_sink.h"
#include "support/ql_temp_dir.h"

namespace qltest {

// Every piece handed to it, in order. If `events` is given, each piece is
// also appended there as "<tag>:<piece>" and destruction as "<tag>:destroyed",
// so tests can see the order across several sinks.
class RecordingSink : public QLLog {
 public:
  explicit RecordingSink(std::string tag = "", boost::shared_ptr<std::vector<std::string>> events =
                                                   boost::shared_ptr<std::vector<std::string>>());
  ~RecordingSink() override;
  void DoLog(std::string const& text) override;
  std::string Joined() const;

  std::vector<std::string> pieces;

 private:
  std::string tag_;
  boost::shared_ptr<std::vector<std::string>> events_;
};

// Splits at '\n', each line keeping its newline; a trailing fragment is kept.
std::vector<std::string> SplitLines(std::string const& text);

// One line of the log statement, taken apart.
struct LogLine {
  std::string word;       // six characters, e.g. "INFO: "
  std::string thread_id;  // as Boost prints it
  std::string message;    // without the final newline
};
// Splits "<word>[<thread id>] [<time stamp>] <message>\n". False if the frame
// is broken anywhere: a thread id that is neither hexadecimal nor Boost's
// "{Not-any-thread}", a stamp not of the shape "2026.12.05 01:30:39.123", a
// missing final newline or a newline inside the message.
bool ParseLogLine(std::string const& line, LogLine* out);

// Sets an environment variable for the scope, restoring the old value.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::string const& value);
  ~ScopedEnv();
  ScopedEnv(ScopedEnv const&) = delete;
  ScopedEnv& operator=(ScopedEnv const&) = delete;

 private:
  std::string name_;
  bool had_value_;
  std::string old_value_;
};

// Puts a fake `zovuvoze` first on PATH for the life of the object; each run
// appends its arguments to <folder>/calls.
class FakeZovuvoze {
 public:
  explicit FakeZovuvoze(std::string const& folder);
  // Arguments of every run so far, in run order.
  std::vector<std::vector<std::string>> Calls() const;
  // What the sink passes for `text`: "-s 1 -p 1 -f 1 <text>".
  static std::vector<std::string> Arguments(std::string const& text);

 private:
  std::string calls_;
  std::unique_ptr<ScopedEnv> path_;
};

}  // namespace qltest

#endif  // QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_
