// Helpers shared by the logging tests: a recording sink, a fake zovuvoze
// command, log-line parsing, and guards that restore the environment and the
// working directory. Temporary folders and whole-file reads come from
// support/ql_temp_dir.h; support/ql_log_capture.h saves and restores the log
// globals.
//
// All helpers are for the test's own thread unless noted; RecordingSink is
// filled under the log buffer's mutex and read after writers have finished.
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
  void DoLog(std::string const& text) override;
  ~RecordingSink() override;

  std::vector<std::string> pieces;
  // All pieces joined.
  std::string Joined() const;

 private:
  std::string tag_;
  boost::shared_ptr<std::vector<std::string>> events_;
};

bool FileExists(std::string const& path);
// Splits at '\n', each line keeping its newline; a trailing fragment is kept.
std::vector<std::string> SplitLines(std::string const& text);

// True if `text` has the shape of `mask`: 'D' stands for a digit, 'A' for an
// upper-case letter, 'a' for a lower-case letter, '_' for a blank or digit;
// any other mask character stands for itself.
bool MatchesMask(std::string const& text, std::string const& mask);
// CurrentTime(): "2026.12.05 01:30:39.123".
constexpr char kTimeStampMask[] = "DDDD.DD.DD DD:DD:DD.DDD";
// ctime() without its newline: "Sat Dec  5 01:30:39 2026".
constexpr char kCtimeMask[] = "Aaa Aaa _D DD:DD:DD DDDD";

// One line of the log statement, taken apart.
struct LogLine {
  std::string word;       // six characters, e.g. "INFO: "
  std::string thread_id;  // as Boost prints it
  std::string stamp;      // the time stamp
  std::string message;    // without the final newline
};
// Splits "<word>[<thread id>] [<time stamp>] <message>\n". False if the frame
// is broken anywhere: a thread id that is neither hexadecimal nor Boost's
// "{Not-any-thread}", a stamp not of the time-stamp shape, a missing final
// newline or a newline inside the message.
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

// Puts a fake `zovuvoze` first on PATH for the life of the object. Each run
// stores its arguments, byte for byte, as <folder>/calls/<run>/<argument number>.
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
