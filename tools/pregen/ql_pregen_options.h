// The command line of quorlin_gd_pregen: where the entries come from (a list
// or a folder walk), the thumbnail sizes, how many connections, and the same
// folder, socket and timeout options as the client; or, with --prune, the
// entries and cache folder whose stale files are to be removed.
//
// Plain data and pure parsers; no shared state, any thread may call.
#ifndef QUORLIN_TOOLS_PREGEN_QL_PREGEN_OPTIONS_H_
#define QUORLIN_TOOLS_PREGEN_QL_PREGEN_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/ql_socket_path.h"

// One thumbnail size: "WxH", or "WxH:full" for the fit-the-whole-picture mode.
struct QLPregenSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool full_screen = false;
};

struct QLPregenOptions {
  std::string list;                          // --list FILE, "-" for standard input
  std::string walk;                          // --walk DIR, made absolute
  std::vector<QLPregenSize> sizes;           // --size, repeatable; duplicates dropped
  unsigned int connections = 1;              // --connections
  std::string thumbnail_folder;              // --thumbnail-folder, made absolute
  std::string default_folder;                // --default-folder, made absolute
  std::string socket = DefaultSocketPath();  // --socket
  unsigned int timeout_seconds = 60;         // --timeout, per request
  bool prune = false;                        // --prune: remove stale cache files instead
  bool dry_run = false;                      // --dry-run, only with --prune
  bool help = false;                         // --help
};

// More connections than this would only take capacity from interactive use.
const unsigned int kMaxPregenConnections = 64;
// Each size multiplies the work; a web application uses a handful.
const std::size_t kMaxPregenSizes = 16;

// Parses "WxH" or "WxH:full" (W and H from 1 to 4294967295, decimal).
bool ParsePregenSize(std::string const& text, QLPregenSize* size);

// Parses argv (argv[0] is the program name). On an error returns false and
// puts a one-line explanation into *error.
bool ParsePregenOptions(int argc, char** argv, QLPregenOptions* options, std::string* error);

// The --help text.
std::string PregenUsage(std::string const& program);

#endif  // QUORLIN_TOOLS_PREGEN_QL_PREGEN_OPTIONS_H_
