// The process frame of a helper process: command line, the stop sequence run
// on a termination signal, and the bookkeeping of the single-instance lock
// between main() and that sequence.
//
// The frame is generic: everything particular to one helper comes from the
// four per-helper functions, defined by the helper's own unit.
//
// Contract:
//  - parse_arguments runs on the main thread before other threads log.
//  - sig_handler runs on the stopper thread (see ql_signal_stopper.h), never
//    inside the operating system's handler. Its stop sequence runs at most
//    once per process; later calls return at once.
//  - TakeProcessLock and the release in sig_handler share one mutex, so the
//    stop sequence releases the pid file only when this process wrote it.
#ifndef QUORLIN_MAIN_QL_HELPER_PROCESS_MAIN_H_
#define QUORLIN_MAIN_QL_HELPER_PROCESS_MAIN_H_

#include <stdio.h>

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "base/ql_command_line_option.h"
#include "main/ql_arguments.h"

class QLAbstractHelper;

// Per-helper values; each call returns a new value.
std::string GetLogFileName();
std::string GetProcessSocketName();
std::string GetProcessName();
boost::shared_ptr<QLAbstractHelper> GetProcessHelper();
// The helper's own command-line options: parse_arguments and PrintUsage add
// them after the frame's options and before "help", in this order. Applying
// one stores its value on the helper's side, where GetProcessHelper() finds
// it; the frame only reports a refused value on standard error.
std::vector<QLCommandLineOption> GetHelperOptions();

// Fills `arguments` from the command line: -l sets the level (atoi), -o DIR
// sets the log file to DIR + "/" + GetLogFileName(), --max-message-bytes N
// sets the process-wide frame bound of QLProcessHelperSocket (N from 1 to
// 2147483647; anything else is reported on stderr and ignored), --help sets
// show_help; the helper's options (GetHelperOptions) are applied, a refused
// value reported the same way. ParseCommandLine reads the words, in the
// daemon's mode (kReportAndGoOn). Returns 0 for null input or an option
// missing its value, 1 when all options are consumed. Unknown options and
// non-options are ignored.
int parse_arguments(int argc, char** argv, QLArguments* arguments);

// The --help text: every option, the helper's included, with its default.
void PrintUsage(FILE* out, char const* program);

// The stop sequence for SIGINT, SIGQUIT and SIGTERM; other numbers do
// nothing.
void sig_handler(int signal_number);

// ql_lock(name), recording on success that this process holds the lock.
int TakeProcessLock(char const* name);

// True once a stop sequence has started.
bool StopRequested();

#endif  // QUORLIN_MAIN_QL_HELPER_PROCESS_MAIN_H_
