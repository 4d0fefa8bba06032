// The parsed command line of the helper process.
//
// Contract: a plain value record, filled on the main thread by the process
// entry (defaults first, then the command line) and read once by InitLogger.
// Not shared between threads afterwards; copy it freely.
#ifndef QUORLIN_MAIN_QL_ARGUMENTS_H_
#define QUORLIN_MAIN_QL_ARGUMENTS_H_

#include <string>

#include "ipc/ql_peer_filter.h"
#include "thumbnail/ql_thumbnail_options.h"

struct QLArguments {
  // Log file for the file sink; empty means no file sink. The process entry
  // sets "gd.log" (or "<folder>/gd.log" from the log-file option).
  std::string log_file_path;
  // Verbosity: ERROR at >= 0, WARN at >= 1, INFO at >= 2, DEBUG at >= 3;
  // negative silences everything.
  int log_level = 3;
  // Extra sinks: --log-console and --log-syslog turn on the first two; the
  // platform logger command has no option.
  bool log_to_console = false;
  bool log_to_syslog = false;
  bool log_to_zovuvoze = false;
  // Limits and opt-in fast paths of the thumbnail work, from the long-only
  // options; handed to the helper before it is created.
  QLThumbnailOptions thumbnail;
  // Set by --help: main prints the usage and exits 0.
  bool show_help = false;

  // Running unprivileged and confined. The defaults keep the long-standing
  // behaviour: the pid file "/var/run/<name>.pid", the socket with the
  // rights the umask gives, every peer served.
  bool show_version = false;  // --version: main prints it and exits 0
  std::string pid_file;       // --pid-file; empty: the default path
  int socket_mode = -1;       // --socket-mode, 0 to 0777; -1: as the umask gives
  long socket_group = -1;     // --socket-group, as a gid; -1: the process's group
  QLPeerFilter peer_filter;   // --allow-uid, --allow-gid
};

#endif  // QUORLIN_MAIN_QL_ARGUMENTS_H_
