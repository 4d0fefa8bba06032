// QLLog2Syslog: log sink sending every piece to syslog at LOG_NOTICE.
//
// Contract: the default constructor opens the connection as "QUORLIN" with
// the process id, facility LOG_DAEMON; the priority constructor leaves ident
// and facility to the C library's defaults. Every piece goes out at priority
// 5 (LOG_NOTICE) whatever priority is kept. The destructor sends
// "Log ended!" and closes the connection. Called only under the owning
// buffer's mutex (see QLLog); syslog itself is thread-safe.
#ifndef QUORLIN_LOG_QL_LOG2SYSLOG_H_
#define QUORLIN_LOG_QL_LOG2SYSLOG_H_

#include <string>

#include "log/ql_log_sink.h"

class QLLog2Syslog : public QLLog {
 public:
  QLLog2Syslog();
  explicit QLLog2Syslog(int priority);
  void DoLog(std::string const& text) override;
  ~QLLog2Syslog() override;

  int priority() const { return priority_; }

 private:
  int priority_;
};

#endif  // QUORLIN_LOG_QL_LOG2SYSLOG_H_
