#include "ql_pregen_options.h"

#include <boost/filesystem/operations.hpp>

#include "base/ql_parse_number.h"
#include "ql_client_options.h"

bool ParsePregenSize(std::string const& text, QLPregenSize* size) {
  std::string dimensions = text;
  bool full_screen = false;
  std::string::size_type const colon = text.find(':');
  if (colon != std::string::npos) {
    if (text.compare(colon + 1, std::string::npos, "full") != 0) return false;
    dimensions = text.substr(0, colon);
    full_screen = true;
  }
  std::string::size_type const cross = dimensions.find('x');
  if (cross == std::string::npos) return false;
  std::string const width_text = dimensions.substr(0, cross);
  std::string const height_text = dimensions.substr(cross + 1);
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  if (!ParseUnsigned(width_text.c_str(), 1, 0xffffffffULL, &width) ||
      !ParseUnsigned(height_text.c_str(), 1, 0xffffffffULL, &height)) {
    return false;
  }
  size->width = static_cast<std::uint32_t>(width);
  size->height = static_cast<std::uint32_t>(height);
  size->full_screen = full_screen;
  return true;
}

bool ParsePregenOptions(int argc, char** argv, QLPregenOptions* options, std::string* error) {
  QLPregenOptions parsed;
  for (int i = 1; i < argc; ++i) {
    QLToolWord word = SplitToolWord(argv[i]);
    std::string const& arg = word.name;
    std::string const& value = word.value;
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    if (!TakeToolValue(argc, argv, &i,
                       {"--list", "--walk", "--size", "--connections", "--thumbnail-folder",
                        "--default-folder", "--socket", "--timeout"},
                       &word, error)) {
      return false;
    }

    std::uint64_t number = 0;
    if (arg == "--list" || arg == "--walk") {
      if (value.empty()) {
        *error = arg + " needs a non-empty value";
        return false;
      }
      if (!parsed.list.empty() || !parsed.walk.empty()) {
        *error = "give one --list or one --walk, not several";
        return false;
      }
      (arg == "--list" ? parsed.list : parsed.walk) = value;
    } else if (arg == "--size") {
      QLPregenSize size;
      if (!ParsePregenSize(value, &size)) {
        *error = "--size must be WxH or WxH:full with W and H from 1 to 4294967295, not \"" +
                 value + "\"";
        return false;
      }
      bool duplicate = false;
      for (QLPregenSize const& known_size : parsed.sizes) {
        duplicate =
            duplicate || (known_size.width == size.width && known_size.height == size.height &&
                          known_size.full_screen == size.full_screen);
      }
      if (!duplicate) parsed.sizes.push_back(size);
      if (parsed.sizes.size() > kMaxPregenSizes) {
        *error = "at most " + std::to_string(kMaxPregenSizes) + " different --size values";
        return false;
      }
    } else if (arg == "--connections") {
      if (!ParseUnsigned(value.c_str(), 1, kMaxPregenConnections, &number)) {
        *error = "--connections must be a whole number from 1 to " +
                 std::to_string(kMaxPregenConnections) + ", not \"" + value + "\"";
        return false;
      }
      parsed.connections = static_cast<unsigned int>(number);
    } else if (arg == "--thumbnail-folder") {
      parsed.thumbnail_folder = value;
    } else if (arg == "--default-folder") {
      parsed.default_folder = value;
    } else if (arg == "--socket") {
      parsed.socket = value;
    } else if (arg == "--timeout") {
      if (!ParseUnsigned(value.c_str(), 1, 86400, &number)) {
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
  if (parsed.list.empty() && parsed.walk.empty()) {
    *error = "--list FILE (\"-\" for standard input) or --walk DIR is required";
    return false;
  }
  if (parsed.sizes.empty()) {
    *error = "at least one --size WxH[:full] is required";
    return false;
  }
  if (parsed.socket.empty() || parsed.socket.size() > 107) {
    *error = "--socket must name a path of 1 to 107 bytes";
    return false;
  }
  try {
    parsed.walk = AbsolutePath(parsed.walk);
    ResolveFolders(&parsed.thumbnail_folder, &parsed.default_folder);
  } catch (boost::filesystem::filesystem_error const& e) {
    *error = std::string("cannot make the paths absolute: ") + e.what();
    return false;
  }
  *options = parsed;
  return true;
}

std::string PregenUsage(std::string const& program) {
  return "Usage: " + program +
         " (--list FILE|- | --walk DIR) --size WxH[:full] [--size ...] [options]\n"
         "Has the running quorlin_gd daemon make the thumbnails of a whole library ahead of\n"
         "time, so later requests are cache hits.\n"
         "\n"
         "  --list FILE|-            lines \"resource_id<TAB>path\" (id decimal or 0x-hex,\n"
         "                           or negative decimal as the web application sends it;\n"
         "                           blank lines and lines starting with # are skipped)\n"
         "  --walk DIR               every regular file under DIR, with the client's\n"
         "                           resource id (a hash of the absolute path); the cache\n"
         "                           folder is skipped\n"
         "  --size WxH[:full]        a thumbnail size, repeatable; \":full\" fits the whole\n"
         "                           picture instead of filling the box\n"
         "  --connections N          connections used at once (default 1, at most " +
         std::to_string(kMaxPregenConnections) +
         ");\n"
         "                           one leaves the daemon's other capacity to interactive use\n"
         "  --thumbnail-folder DIR   cache folder (default " +
         DefaultCacheFolder() +
         ")\n"
         "  --default-folder DIR     folder of the five default pictures (default\n"
         "                           " +
         DefaultPicturesFolder() +
         ")\n"
         "  --socket PATH            daemon socket (default " +
         std::string(DefaultSocketPath()) +
         ")\n"
         "  --timeout SECONDS        how long to wait for each reply (default 60)\n"
         "  --help                   this text\n"
         "\n"
         "Each request ends as made, already cached, default picture or failed: already\n"
         "cached when the cache file existed before the request, made when the daemon\n"
         "answered with a PNG and the cache file exists now, default picture when it\n"
         "answered with a PNG but wrote no cache file, failed on the zero-byte reply, no\n"
         "reply or a reply that is not a PNG (and for each size of a bad list line).\n"
         "\n"
         "Exit status: 0 every request got a thumbnail; 1 some failed; 2 bad command line\n"
         "or unreadable list; 3 daemon not reachable; 130 interrupted (Ctrl-C).\n";
}
