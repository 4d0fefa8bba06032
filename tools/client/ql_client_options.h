// The command line of quorlin_gd_client: one flag per request key plus the
// output file, the socket path and a reply timeout.
//
// Plain data and a pure parser; no shared state, any thread may call.
#ifndef QUORLIN_TOOLS_CLIENT_QL_CLIENT_OPTIONS_H_
#define QUORLIN_TOOLS_CLIENT_QL_CLIENT_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/ql_command_line_option.h"
#include "protocol/ql_socket_path.h"

struct QLClientOptions {
  std::string path;               // --path, made absolute (the daemon has its own cwd)
  std::uint32_t width = 160;      // --width
  std::uint32_t height = 120;     // --height
  bool full_screen = false;       // --full-screen
  std::uint64_t resource_id = 0;  // --resource-id; default: a hash of the absolute path
  bool resource_id_given = false;
  std::string thumbnail_folder;              // --thumbnail-folder
  std::string default_folder;                // --default-folder
  std::string output;                        // --output FILE, "-" for standard output
  std::string socket = DefaultSocketPath();  // --socket
  unsigned int timeout_seconds = 60;         // --timeout
  bool help = false;                         // --help
};

// Folder the build wrote the default pictures to (compile-time value).
std::string DefaultPicturesFolder();
// $HOME/.cache/quorlin_gd, or /tmp/quorlin_gd_cache without a usable $HOME.
std::string DefaultCacheFolder();
// `path` made absolute from the working directory and lexically normal, as
// the client sends it ("" and "-" stay as they are). Throws
// boost::filesystem::filesystem_error when there is no working directory.
std::string AbsolutePath(std::string const& path);
// The cache and default-picture folders as the tools send them: an empty one
// becomes its default, both are made absolute. Throws as AbsolutePath does.
void ResolveFolders(std::string* thumbnail_folder, std::string* default_folder);
// 64-bit FNV-1a of `text`: a stable resource id for a path.
std::uint64_t ResourceIdForPath(std::string const& text);

// The options every tool spells the same way, for ParseCommandLine
// (base/ql_command_line_option.h): a text value stored as given, -h/--help,
// and --timeout SECONDS (1 to 86400).
QLCommandLineOption ToolTextOption(char const* name, std::string* target);
QLCommandLineOption ToolHelpOption(bool* help);
QLCommandLineOption ToolTimeoutOption(unsigned int* seconds);
// ParseCommandLine in the tools' mode (kStopAtFirstError); words that are
// not options go to *operands, or are an error when it is null.
bool ParseToolCommandLine(int argc, char** argv, std::vector<QLCommandLineOption> const& options,
                          std::vector<std::string>* operands, std::string* error);

// Parses argv (argv[0] is the program name). On an error returns false and
// puts a one-line explanation into *error. Fills in the defaults above.
bool ParseClientOptions(int argc, char** argv, QLClientOptions* options, std::string* error);

// The --help text.
std::string ClientUsage(std::string const& program);

#endif  // QUORLIN_TOOLS_CLIENT_QL_CLIENT_OPTIONS_H_
