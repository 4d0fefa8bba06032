// Time stamps for log lines, the stage timer, and the fallback printer that
// writes straight to its own file without the log buffer.
//
// CurrentTime() and QLTimer keep no shared state and may be used on any
// thread. ql_log_print keeps one static descriptor and takes no lock: calls
// must not overlap.
#ifndef QUORLIN_LOG_QL_LOGGER_H_
#define QUORLIN_LOG_QL_LOGGER_H_

#include <sys/time.h>

#include <string>

// Local time as "YYYY.MM.DD HH:MM:SS.mmm" (always 23 characters). The
// millisecond field is left-aligned and padded with '0' on the right, so
// 5 ms reads "500": log readers rely on that exact shape.
std::string CurrentTime();

// The time stamp CurrentTime() writes, for a given clock reading.
std::string FormatTimeStamp(struct timeval const& when);

// Measures one stage. get_duration() may be called repeatedly; each call
// measures from construction or the last reset().
class QLTimer {
 public:
  QLTimer();
  void reset();
  // "S.uuuuuu s\n": seconds with exactly six decimals, then " s" and a newline.
  std::string get_duration();

  // end - start, borrowing a second when the microseconds go negative.
  static struct timeval Elapsed(struct timeval const& start, struct timeval const& end);
  // The get_duration() text for an elapsed time.
  static std::string FormatElapsed(struct timeval const& elapsed);

 private:
  struct timeval start_;
  struct timeval end_;
  struct timeval elapsed_;
};

// The C library's ctime() text without its newline, malloc'ed; free() it.
// Null (after "LOGGER: Fatal error!" on stdout) if no memory is left.
char* print_time();

// Appends one line "(tid)[time file line function] message\n" to
// /tmp/quorlin_log.txt, opening and closing the file on every call. Prefix
// and message are each cut to 2047 characters. A file that cannot be opened
// or written is reported on stdout ("Error creating the logs!",
// "LOGGER: write error!") and the line is dropped; the process goes on.
void ql_log_print(char const* file, int line, char const* function, char const* format, ...)
    __attribute__((format(printf, 4, 5)));

// For tests only: makes ql_log_print write to `path` instead; an empty path
// restores /tmp/quorlin_log.txt. Same threading rule as ql_log_print.
void SetFallbackLogPathForTesting(std::string const& path);

#endif  // QUORLIN_LOG_QL_LOGGER_H_
