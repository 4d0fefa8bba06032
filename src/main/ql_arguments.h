// The parsed command line of the helper process.
//
// Contract: a plain value record, filled on the main thread by the process
// entry (defaults first, then the command line); InitLogger reads its log
// settings once. Not shared between threads afterwards; copy it freely.
// The helper's own options are kept on the helper's side (GetHelperOptions).
#ifndef QUORLIN_MAIN_QL_ARGUMENTS_H_
#define QUORLIN_MAIN_QL_ARGUMENTS_H_

#include "log/ql_log_settings.h"

// The log settings come first: the process entry sets the log file to "gd.log"
// (or "<folder>/gd.log" from the log-file option) and the level to 3; no
// command-line option sets the console, syslog or platform-logger sinks.
struct QLArguments : QLLogSettings {
  // Set by --help: main prints the usage and exits 0.
  bool show_help = false;
};

#endif  // QUORLIN_MAIN_QL_ARGUMENTS_H_
