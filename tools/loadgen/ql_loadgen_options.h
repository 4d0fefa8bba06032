// The command line of ql_loadgen.
//
// Plain data and a pure parser; any thread may call it.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_LOADGEN_OPTIONS_H_
#define QUORLIN_TOOLS_LOADGEN_QL_LOADGEN_OPTIONS_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/ql_command_line_option.h"
#include "protocol/ql_socket_path.h"

struct QLLoadgenOptions {
  std::string socket = DefaultSocketPath();  // --socket
  unsigned int clients = 1;                  // --clients N (1..256)
  std::string cache_root;        // --cache-root DIR: fresh cache folders are made inside
  std::string default_folder;    // --defaults DIR (default: the build's pictures)
  std::uint32_t width = 160;     // --width
  std::uint32_t height = 120;    // --height
  bool full_screen = false;      // --full-screen
  unsigned int miss_rounds = 1;  // --miss-rounds R: each photo R times, fresh cache each round
  unsigned int miss_copies = 1;  // --miss-copies K: each photo K times a round, own caches
  std::size_t hits = 0;          // --hits N: requests answered from the cache
  std::string warmup;            // --warmup FILE: one untimed request first
  pid_t daemon_pid = 0;          // --pid PID: measure the daemon's CPU and memory
  bool new_connection = false;   // --new-connection: connect for every request
  unsigned int timeout_seconds = 120;  // --timeout
  bool key_values = false;             // --format kv: "label.phase.key=value" lines
  std::string label = "run";           // --label NAME
  std::vector<std::string> files;      // the photos, absolute paths
  bool help = false;
};

// Parses argv (argv[0] is the program name); relative photo paths are made
// absolute against the working directory. On an error returns false with a
// one-line reason in *error.
// --format text|kv, the report's layout: `*key_values` is true for kv.
QLCommandLineOption ReportFormatOption(bool* key_values);

bool ParseLoadgenOptions(int argc, char** argv, QLLoadgenOptions* options, std::string* error);

std::string LoadgenUsage(std::string const& program);

#endif  // QUORLIN_TOOLS_LOADGEN_QL_LOADGEN_OPTIONS_H_
