// QLLog2Zovuvoze: log sink handing every piece to the platform's logger
// command, "zovuvoze -s <s> -p <p> -f <f> '<text>'", through the shell.
//
// Contract: the text always reaches the command as one single-quoted
// argument; a quote inside it is escaped, so no text can end the quoting or
// run as a command. NUL characters, which no argument can carry, are dropped.
// The command's exit status is ignored. Construction runs the command for
// "Log started!", destruction for "Log ended!". Called only under the owning
// buffer's mutex (see QLLog); each piece starts one shell.
#ifndef QUORLIN_LOG_QL_LOG2ZOVUVOZE_H_
#define QUORLIN_LOG_QL_LOG2ZOVUVOZE_H_

#include <string>

#include "log/ql_log_sink.h"

class QLLog2Zovuvoze : public QLLog {
 public:
  QLLog2Zovuvoze();
  QLLog2Zovuvoze(int s_value, int p_value, int f_value);
  void DoLog(std::string const& text) override;
  ~QLLog2Zovuvoze() override;

 private:
  // The shell command line that DoLog(text) runs.
  std::string BuildCommand(std::string const& text) const;
  void Run(std::string const& text) const;

  int s_value_;
  int p_value_;
  int f_value_;
};

#endif  // QUORLIN_LOG_QL_LOG2ZOVUVOZE_H_
