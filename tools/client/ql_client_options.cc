#include "ql_client_options.h"

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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

QLToolWord SplitToolWord(char const* text) {
  QLToolWord word;
  word.name = text;
  std::string::size_type const equals = word.name.find('=');
  if (word.name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
    word.value = word.name.substr(equals + 1);
    word.name.erase(equals);
    word.has_value = true;
  }
  return word;
}

bool TakeToolValue(int argc, char** argv, int* i, std::initializer_list<char const*> with_value,
                   QLToolWord* word, std::string* error) {
  bool known = false;
  for (char const* name : with_value) known = known || word->name == name;
  if (!known) {
    *error = "unknown option \"" + word->name + "\"";
    return false;
  }
  if (!word->has_value) {
    if (*i + 1 >= argc) {
      *error = word->name + " needs a value";
      return false;
    }
    word->value = argv[++*i];
    word->has_value = true;
  }
  return true;
}

bool ParseClientOptions(int argc, char** argv, QLClientOptions* options, std::string* error) {
  QLClientOptions parsed;
  for (int i = 1; i < argc; ++i) {
    QLToolWord word = SplitToolWord(argv[i]);
    std::string const& arg = word.name;
    std::string const& value = word.value;
    bool const has_value = word.has_value;
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    if (arg == "--full-screen") {
      if (has_value) {
        if (value != "0" && value != "1" && value != "true" && value != "false") {
          *error = "--full-screen takes no value, or one of 0, 1, true, false";
          return false;
        }
        parsed.full_screen = value == "1" || value == "true";
      } else {
        parsed.full_screen = true;
      }
      continue;
    }
    if (!TakeToolValue(argc, argv, &i,
                       {"--path", "--width", "--height", "--resource-id", "--thumbnail-folder",
                        "--default-folder", "--output", "--socket", "--timeout"},
                       &word, error)) {
      return false;
    }

    std::uint64_t number = 0;
    if (arg == "--path") {
      parsed.path = value;
    } else if (arg == "--width" || arg == "--height") {
      if (!ParseUnsigned(value.c_str(), 1, 0xffffffffULL, &number, QLNumberForm::kDecimalOrHex)) {
        *error = arg + " must be a whole number from 1 to 4294967295, not \"" + value + "\"";
        return false;
      }
      (arg == "--width" ? parsed.width : parsed.height) = static_cast<std::uint32_t>(number);
    } else if (arg == "--resource-id") {
      if (!ParseUnsigned(value.c_str(), 0, UINT64_MAX, &number, QLNumberForm::kDecimalOrHex)) {
        *error = "--resource-id must be an unsigned 64-bit number, not \"" + value + "\"";
        return false;
      }
      parsed.resource_id = number;
      parsed.resource_id_given = true;
    } else if (arg == "--thumbnail-folder") {
      parsed.thumbnail_folder = value;
    } else if (arg == "--default-folder") {
      parsed.default_folder = value;
    } else if (arg == "--output") {
      parsed.output = value;
    } else if (arg == "--socket") {
      parsed.socket = value;
    } else if (arg == "--timeout") {
      if (!ParseUnsigned(value.c_str(), 1, 86400, &number, QLNumberForm::kDecimalOrHex)) {
        *error = "--timeout must be a number of seconds from 1 to 86400";
        return false;
      }
      parsed.timeout_seconds = static_cast<unsigned int>(number);
    }
  }

  if (parsed.help) {
    *options = parsed;
    return true;
  }
  if (parsed.path.empty()) {
    *error = "--path is required";
    return false;
  }
  if (parsed.output.empty()) {
    *error = "--output is required (\"-\" writes the PNG to standard output)";
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
         " --path FILE --output PNG [options]\n"
         "Asks the running quorlin_gd daemon for the thumbnail of FILE and writes it to PNG\n"
         "(\"-\" for standard output).\n"
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
         "  --output FILE            where to write the PNG\n"
         "  --socket PATH            daemon socket (default " +
         std::string(DefaultSocketPath()) +
         ")\n"
         "  --timeout SECONDS        how long to wait for the reply (default 60)\n"
         "  --help                   this text\n"
         "\n"
         "Exit status: 0 thumbnail written; 2 bad command line; 3 daemon not reachable;\n"
         "4 no reply; 5 the daemon could not make a thumbnail; 6 the reply is not a PNG;\n"
         "7 the output file could not be written.\n";
}
