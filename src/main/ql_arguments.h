// The parsed command line of the helper process.
//
// Contract: a plain value record, filled on the main thread by the process
// entry (defaults first, then the command line); InitLogger reads its log
// settings once. Not shared between threads afterwards; copy it freely.
// The helper's own options are kept on the helper's side (GetHelperOptions).
#ifndef QUORLIN_MAIN_QL_ARGUMENTS_H_
#define QUORLIN_MAIN_QL_ARGUMENTS_H_

#include <cstddef>
#include <string>

#include "ipc/ql_peer_filter.h"
#include "ipc/ql_process_socket_server.h"
#include "log/ql_log_settings.h"

// The log settings come first: the process entry sets the log file to "gd.log"
// (or "<folder>/gd.log" from the log-file option) and the level to 3;
// --log-console and --log-syslog turn on those two sinks; the platform logger
// command has no option.
struct QLArguments : QLLogSettings {
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

  // What one peer can cost: connections per user (0: no cap), the time a
  // begun frame has to complete, the opt-in idle limit (0: none).
  std::size_t max_peer_connections = QLProcessHelperSocketServerService::kDefaultMaxPeerConnections;
  int frame_timeout_ms = QLProcessHelperSocketServerService::kDefaultFrameTimeoutMs;
  int idle_timeout_ms = 0;
};

#endif  // QUORLIN_MAIN_QL_ARGUMENTS_H_
