#include "ql_client_options.h"

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/ql_parse_number.h"

#ifndef QL_DEFAULT_PICTURES_DIR
#define QL_DEFAULT_PICTURES_DIR "/usr/share/quorlin_gd/default_pictures"
#endif

std::string AbsolutePath(std::string const& path) {
  if (path.empty() || path == "-") return path;
  return boost::filesystem::absolute(path).lexically_normal().string();
}

std::string DefaultPicturesFolder() { return QL_DEFAULT_PICTURES_DIR; }

std::string DefaultCacheFolder() {
  char const* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.cache/quorlin_gd";
  return "/tmp/quorlin_gd_cache";
}

void ResolveFolders(std::string* thumbnail_folder, std::string* default_folder) {
  if (thumbnail_folder->empty()) *thumbnail_folder = DefaultCacheFolder();
  *thumbnail_folder = AbsolutePath(*thumbnail_folder);
  if (default_folder->empty()) *default_folder = DefaultPicturesFolder();
  *default_folder = AbsolutePath(*default_folder);
}

std::uint64_t ResourceIdForPath(std::string const& text) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

QLCommandLineOption ToolTextOption(char const* name, std::string* target) {
  QLCommandLineOption option;
  option.name = name;
  option.takes_value = true;
  option.apply = [target](char const* value) {
    *target = value;
    return true;
  };
  return option;
}

QLCommandLineOption ToolHelpOption(bool* help) {
  QLCommandLineOption option = FlagOption("help", help);
  option.letter = 'h';
  return option;
}

QLCommandLineOption ToolTimeoutOption(unsigned int* seconds) {
  return NumberOption("timeout", 1, 86400, "a number of seconds from 1 to 86400",
                      [seconds](std::uint64_t n) { *seconds = static_cast<unsigned int>(n); });
}

bool ParseToolCommandLine(int argc, char** argv, std::vector<QLCommandLineOption> const& options,
                          std::vector<std::string>* operands, std::string* error) {
  std::vector<std::string> words;
  if (!ParseCommandLine(argc, argv, options, QLCommandLineMode::kStopAtFirstError, &words, error)) {
    return false;
  }
  if (operands == nullptr && !words.empty()) {
    *error = "unexpected argument \"" + words[0] + "\"";
    return false;
  }
  if (operands != nullptr) *operands = words;
  return true;
}

bool ParseClientOptions(int argc, char** argv, QLClientOptions* options, std::string* error) {
  QLClientOptions parsed;
  QLCommandLineOption full_screen;
  full_screen.name = "full-screen";
  full_screen.value_optional = true;
  full_screen.expected = "given without a value, or as --full-screen=0, 1, true or false";
  full_screen.apply = [&parsed](char const* value) {
    std::string const text = value ? value : "1";
    if (text != "0" && text != "1" && text != "true" && text != "false") return false;
    parsed.full_screen = text == "1" || text == "true";
    return true;
  };
  auto const size = [](char const* name, std::uint32_t* target) {
    return NumberOption(name, 1, 0xffffffffULL, "a whole number from 1 to 4294967295",
                        [target](std::uint64_t n) { *target = static_cast<std::uint32_t>(n); });
  };
  QLCommandLineOption resource_id;
  resource_id.name = "resource-id";
  resource_id.takes_value = true;
  resource_id.expected = "an unsigned 64-bit number (decimal or 0x-hex)";
  resource_id.apply = [&parsed](char const* value) {
    // An identifier, not a count: the one kind of number also taken in hex.
    if (!ParseUnsigned(value, 0, UINT64_MAX, &parsed.resource_id, QLNumberForm::kDecimalOrHex)) {
      return false;
    }
    parsed.resource_id_given = true;
    return true;
  };
  std::vector<QLCommandLineOption> const table = {
      ToolTextOption("path", &parsed.path),
      size("width", &parsed.width),
      size("height", &parsed.height),
      full_screen,
      resource_id,
      ToolTextOption("thumbnail-folder", &parsed.thumbnail_folder),
      ToolTextOption("default-folder", &parsed.default_folder),
      ToolTextOption("output", &parsed.output),
      ToolTextOption("socket", &parsed.socket),
      ToolTimeoutOption(&parsed.timeout_seconds),
      ToolHelpOption(&parsed.help),
  };
  if (!ParseToolCommandLine(argc, argv, table, nullptr, error)) return false;

  if (parsed.help) {
    *options = parsed;
    return true;
  }
  if (parsed.path.empty()) {
    *error = "--path is required";
    return false;
  }
  if (parsed.output.empty()) {
    *error = "--output is required (\"-\" writes the picture to standard output)";
    return false;
  }
  if (parsed.socket.empty() || parsed.socket.size() > 107) {
    *error = "--socket must name a path of 1 to 107 bytes";
    return false;
  }
  try {
    parsed.path = AbsolutePath(parsed.path);
    ResolveFolders(&parsed.thumbnail_folder, &parsed.default_folder);
  } catch (boost::filesystem::filesystem_error const& e) {
    *error = std::string("cannot make the paths absolute: ") + e.what();
    return false;
  }
  if (!parsed.resource_id_given) parsed.resource_id = ResourceIdForPath(parsed.path);
  *options = parsed;
  return true;
}

std::string ClientUsage(std::string const& program) {
  return "Usage: " + program +
         " --path FILE --output OUT [options]\n"
         "Asks the running quorlin_gd daemon for the thumbnail of FILE and writes it to OUT\n"
         "(\"-\" for standard output) as it comes: PNG, JPEG or WebP, as the daemon makes\n"
         "them.\n"
         "\n"
         "  --path FILE              file to make a thumbnail for (made absolute)\n"
         "  --width N                thumbnail width in pixels (default 160)\n"
         "  --height N               thumbnail height in pixels (default 120)\n"
         "  --full-screen[=0|1]      fit the whole picture instead of filling the box\n"
         "  --resource-id N          cache identifier (decimal or 0x-hex; default: a hash of\n"
         "                           the absolute path)\n"
         "  --thumbnail-folder DIR   cache folder (default " +
         DefaultCacheFolder() +
         ")\n"
         "  --default-folder DIR     folder of the five default pictures (default\n"
         "                           " +
         DefaultPicturesFolder() +
         ")\n"
         "  --output FILE            where to write the picture\n"
         "  --socket PATH            daemon socket (default " +
         std::string(DefaultSocketPath()) +
         ")\n"
         "  --timeout SECONDS        how long to wait for the reply (default 60)\n"
         "  -h, --help               this text\n"
         "Numbers are decimal; only --resource-id also takes 0x-hex.\n"
         "\n"
         "Exit status: 0 thumbnail written; 2 bad command line; 3 daemon not reachable;\n"
         "4 no reply; 5 the daemon could not make a thumbnail; 6 the reply is not a picture;\n"
         "7 the output file could not be written.\n";
}
