#include "ql_loadgen_options.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <utility>

#include "ql_client_options.h"

namespace {

std::string Absolute(std::string const& path) {
  if (!path.empty() && path[0] == '/') return path;
  char folder[PATH_MAX];
  if (getcwd(folder, sizeof(folder)) == nullptr) return path;
  return std::string(folder) + "/" + path;
}

}  // namespace

QLCommandLineOption ReportFormatOption(bool* key_values) {
  QLCommandLineOption format = ToolTextOption("format", nullptr);
  format.expected = "'text' or 'kv'";
  format.apply = [key_values](char const* value) {
    if (std::string(value) != "kv" && std::string(value) != "text") return false;
    *key_values = std::string(value) == "kv";
    return true;
  };
  return format;
}

bool ParseLoadgenOptions(int argc, char** argv, QLLoadgenOptions* options, std::string* error) {
  auto const number = [](char const* name, std::uint64_t low, std::uint64_t high,
                         std::function<void(std::uint64_t)> store) {
    return NumberOption(
        name, low, high,
        "a whole number from " + std::to_string(low) + " to " + std::to_string(high),
        std::move(store));
  };
  auto const path = [](char const* name, std::string* target) {
    QLCommandLineOption option = ToolTextOption(name, target);
    option.apply = [target](char const* value) {
      *target = Absolute(value);
      return true;
    };
    return option;
  };
  std::vector<QLCommandLineOption> const table = {
      ToolTextOption("socket", &options->socket),
      number("clients", 1, 256, [options](std::uint64_t n) { options->clients = n; }),
      path("cache-root", &options->cache_root),
      path("defaults", &options->default_folder),
      number("width", 1, 65535, [options](std::uint64_t n) { options->width = n; }),
      number("height", 1, 65535, [options](std::uint64_t n) { options->height = n; }),
      FlagOption("full-screen", &options->full_screen),
      number("miss-rounds", 0, 1000, [options](std::uint64_t n) { options->miss_rounds = n; }),
      number("miss-copies", 1, 64, [options](std::uint64_t n) { options->miss_copies = n; }),
      number("hits", 0, 100000000, [options](std::uint64_t n) { options->hits = n; }),
      path("warmup", &options->warmup),
      number("pid", 1, INT_MAX, [options](std::uint64_t n) { options->daemon_pid = n; }),
      FlagOption("new-connection", &options->new_connection),
      number("timeout", 1, 3600, [options](std::uint64_t n) { options->timeout_seconds = n; }),
      ReportFormatOption(&options->key_values),
      ToolTextOption("label", &options->label),
      FlagOption("help", &options->help),
  };
  std::vector<std::string> photos;
  if (!ParseToolCommandLine(argc, argv, table, &photos, error)) return false;
  if (options->help) return true;
  for (std::string const& photo : photos) options->files.push_back(Absolute(photo));
  if (options->files.empty()) {
    *error = "no photos given";
    return false;
  }
  if (options->cache_root.empty()) {
    *error = "--cache-root is required (fresh cache folders are made inside it)";
    return false;
  }
  if (options->miss_rounds == 0 && options->hits == 0) {
    *error = "nothing to do: --miss-rounds 0 and --hits 0";
    return false;
  }
  return true;
}

std::string LoadgenUsage(std::string const& program) {
  return "usage: " + program +
         " --cache-root DIR [options] PHOTO...\n"
         "Sends thumbnail requests to the quorlin_gd daemon over its socket and reports\n"
         "thumbnails per second and latency percentiles, misses and hits apart.\n"
         "  --socket PATH       daemon socket (default " +
         std::string(DefaultSocketPath()) +
         ")\n"
         "  --clients N         concurrent clients, each with its own connection (1)\n"
         "  --cache-root DIR    a fresh cache folder is made inside for every miss round\n"
         "  --defaults DIR      default-picture folder sent with the requests\n"
         "  --width W --height H --full-screen   requested thumbnail (160x120, fill)\n"
         "  --miss-rounds R     send every photo R times, each round on an empty cache (1)\n"
         "  --miss-copies K     in every round, request each photo K times, each copy into\n"
         "                      its own empty cache, copies side by side (1); with several\n"
         "                      clients the round then ends on K equal requests instead of\n"
         "                      one large photo decoding alone\n"
         "  --hits N            then N requests answered from the cache (0)\n"
         "  --warmup FILE       one untimed request first, in a cache of its own\n"
         "  --pid PID           the daemon's pid: report its CPU time and peak memory\n"
         "  --new-connection    connect for every request instead of keeping connections\n"
         "  --timeout S         reply timeout per request (120)\n"
         "  --format text|kv    human text, or label.phase.key=value lines\n"
         "  --label NAME        first part of the kv keys (run)\n";
}
