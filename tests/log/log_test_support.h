// Helpers shared by the logging tests: a temporary folder, a recording sink,
// whole-file reads, and a guard that restores the log globals.
//
// All helpers are for the test's own thread unless noted; RecordingSink is
// filled under the log buffer's mutex and read after writers have finished.
#ifndef QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_
#define QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "log/ql_log_sink.h"

namespace qltest {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(TempDir const&) = delete;
  TempDir& operator=(TempDir const&) = delete;
  std::string const& path() const { return path_; }
  std::string File(std::string const& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

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

// Whole file content; empty if it cannot be read.
std::string ReadFile(std::string const& path);
bool FileExists(std::string const& path);
void WriteFile(std::string const& path, std::string const& content);
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

// Saves ql_log_level and qlloggeros and puts them back on destruction.
class LogGlobalsGuard {
 public:
  LogGlobalsGuard();
  ~LogGlobalsGuard();
  LogGlobalsGuard(LogGlobalsGuard const&) = delete;
  LogGlobalsGuard& operator=(LogGlobalsGuard const&) = delete;

 private:
  int level_;
  boost::shared_ptr<std::ostream> stream_;
};

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

// Changes the working directory for the scope.
class ScopedChdir {
 public:
  explicit ScopedChdir(std::string const& path);
  ~ScopedChdir();
  ScopedChdir(ScopedChdir const&) = delete;
  ScopedChdir& operator=(ScopedChdir const&) = delete;

 private:
  std::string old_;
};

}  // namespace qltest

#endif  // QUORLIN_TESTS_LOG_LOG_TEST_SUPPORT_H_
