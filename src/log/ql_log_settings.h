// What the logger is to do: the level and which sinks to build.
//
// Contract: a plain value record, filled on the main thread before
// InitLogger reads it once. Copy it freely; nothing keeps a reference to it.
#ifndef QUORLIN_LOG_QL_LOG_SETTINGS_H_
#define QUORLIN_LOG_QL_LOG_SETTINGS_H_

#include <string>

struct QLLogSettings {
  // Log file for the file sink; empty means no file sink.
  std::string log_file_path;
  // Verbosity: ERROR at >= 0, WARN at >= 1, INFO at >= 2, DEBUG at >= 3;
  // negative silences everything.
  int log_level = 3;
  // Extra sinks.
  bool log_to_console = false;
  bool log_to_syslog = false;
  bool log_to_zovuvoze = false;
};

#endif  // QUORLIN_LOG_QL_LOG_SETTINGS_H_
