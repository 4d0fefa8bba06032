// QLLog2Console: log sink writing to the standard error stream.
//
// Contract: announces itself with "Log started!\n" on construction and
// "Log ended!\n" on destruction; every piece is written and flushed at once.
// Called only under the owning buffer's mutex (see QLLog).
#ifndef QUORLIN_LOG_QL_LOG2CONSOLE_H_
#define QUORLIN_LOG_QL_LOG2CONSOLE_H_

#include <string>

#include "log/ql_log_sink.h"

class QLLog2Console : public QLLog {
 public:
  QLLog2Console();
  void DoLog(std::string const& text) override;
  ~QLLog2Console() override;
};

#endif  // QUORLIN_LOG_QL_LOG2CONSOLE_H_
