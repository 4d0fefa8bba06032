#include "ql_pregen_options.h"

#include <boost/filesystem/operations.hpp>

#include "base/ql_parse_number.h"
#include "ql_client_options.h"
#include "ql_pregen_prune.h"

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
  auto const source = [&](char const* name, std::string* target) {
    QLCommandLineOption option = ToolTextOption(name, target);
    option.apply = [&parsed, error, name, target](char const* value) {
      if (value[0] == '\0') {
        *error = std::string("--") + name + " needs a non-empty value";
        return false;
      }
      if (!parsed.list.empty() || !parsed.walk.empty()) {
        *error = "give one --list or one --walk, not several";
        return false;
      }
      *target = value;
      return true;
    };
    return option;
  };
  QLCommandLineOption size = ToolTextOption("size", nullptr);
  size.expected = "WxH or WxH:full with W and H from 1 to 4294967295";
  size.apply = [&parsed, error](char const* value) {
    QLPregenSize given;
    if (!ParsePregenSize(value, &given)) return false;
    bool duplicate = false;
    for (QLPregenSize const& known : parsed.sizes) {
      duplicate = duplicate || (known.width == given.width && known.height == given.height &&
                                known.full_screen == given.full_screen);
    }
    if (!duplicate) parsed.sizes.push_back(given);
    if (parsed.sizes.size() > kMaxPregenSizes) {
      *error = "at most " + std::to_string(kMaxPregenSizes) + " different --size values";
      return false;
    }
    return true;
  };
  std::vector<QLCommandLineOption> const table = {
      source("list", &parsed.list),
      source("walk", &parsed.walk),
      size,
      NumberOption("connections", 1, kMaxPregenConnections,
                   "a whole number from 1 to " + std::to_string(kMaxPregenConnections),
                   [&parsed](std::uint64_t n) { parsed.connections = static_cast<unsigned>(n); }),
      ToolTextOption("thumbnail-folder", &parsed.thumbnail_folder),
      ToolTextOption("default-folder", &parsed.default_folder),
      ToolTextOption("socket", &parsed.socket),
      ToolTimeoutOption(&parsed.timeout_seconds),
      FlagOption("prune", &parsed.prune),
      FlagOption("dry-run", &parsed.dry_run),
      ToolHelpOption(&parsed.help),
  };
  if (!ParseToolCommandLine(argc, argv, table, nullptr, error)) return false;

  if (parsed.help) {
    *options = parsed;
    return true;
  }
  if (parsed.list.empty() && parsed.walk.empty()) {
    *error = "--list FILE (\"-\" for standard input) or --walk DIR is required";
    return false;
  }
  if (parsed.dry_run && !parsed.prune) {
    *error = "--dry-run goes only with --prune";
    return false;
  }
  // A prune judges the files of every size alike, so it needs none.
  if (parsed.sizes.empty() && !parsed.prune) {
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
         "       " +
         program +
         " (--list FILE|- | --walk DIR) --prune [--dry-run] [--thumbnail-folder DIR]\n"
         "Has the running quorlin_gd daemon make the thumbnails of a whole library ahead of\n"
         "time, so later requests are cache hits; or, with --prune, removes the cache files\n"
         "nobody will ask for again.\n"
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
         "  --prune                  ask the daemon nothing: remove from the cache folder\n"
         "                           the files (every size, mode and format; --size is\n"
         "                           ignored) of ids not among the entries, and those whose\n"
         "                           time is not their source's modification time now (the\n"
         "                           source deleted or changed). An id listed with several\n"
         "                           paths keeps the files of each path's time. After a bad\n"
         "                           list line or a skipped walk folder, files of unlisted\n"
         "                           ids are kept. Only regular files with cache names are\n"
         "                           removed; at most " +
         std::to_string(kMaxPruneNames) +
         " names are looked at\n"
         "  --dry-run                with --prune: remove nothing, report the same counts\n"
         "  -h, --help               this text\n"
         "\n"
         "Requests are sent as background requests: the daemon lets requests of people\n"
         "browsing go first.\n"
         "\n"
         "Each request ends as made, already cached, default picture or failed: already\n"
         "cached when the cache file existed before the request, made when the daemon\n"
         "answered with a picture (PNG, JPEG or WebP, whichever it makes) and its cache\n"
         "file exists now, default picture when it answered with a picture but wrote no\n"
         "cache file, failed on the zero-byte reply, no reply or a reply that is no\n"
         "picture (and for each size of a bad list line).\n"
         "\n"
         "Exit status: 0 every request got a thumbnail; 1 some failed; 2 bad command line\n"
         "or unreadable list; 3 daemon not reachable; 130 interrupted (Ctrl-C).\n"
         "With --prune: 0 the whole folder was judged; 1 a removal, a list line or a look\n"
         "at a source failed, or the folder was not listed to its end; 2 and 130 as above.\n";
}
