// QLLog: one destination for log text (a file, the console, syslog, the
// platform logger command).
//
// Contract: a sink receives every piece of text the log buffer hands over,
// exactly as collected (including a line's final newline, or empty), and adds
// nothing of its own. Sinks take no locks: the owning QLLogBuffer calls DoLog
// under its own mutex, one sink after another, so a sink is never entered by
// two threads at once. Sinks are shared (boost::shared_ptr) and live until the
// buffer releases them; each writes its closing line in its destructor.
#ifndef QUORLIN_LOG_QL_LOG_SINK_H_
#define QUORLIN_LOG_QL_LOG_SINK_H_

#include <string>

class QLLog {
 public:
  QLLog() = default;
  QLLog(QLLog const&) = delete;
  QLLog& operator=(QLLog const&) = delete;

  virtual void DoLog(std::string const& text) = 0;
  virtual ~QLLog();
};

#endif  // QUORLIN_LOG_QL_LOG_SINK_H_
