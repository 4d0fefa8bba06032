#include "ql_loadgen_options.h"

#include <errno.h>
#include <getopt.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

#include "base/ql_parse_number.h"

namespace {

enum LongOnly {
  kSocket = 256,
  kClients,
  kCacheRoot,
  kDefaults,
  kWidth,
  kHeight,
  kFullScreen,
  kMissRounds,
  kMissCopies,
  kHits,
  kWarmup,
  kPid,
  kNewConnection,
  kTimeout,
  kFormat,
  kLabel,
  kHelp,
};

struct option const kOptions[] = {
    {"socket", required_argument, nullptr, kSocket},
    {"clients", required_argument, nullptr, kClients},
    {"cache-root", required_argument, nullptr, kCacheRoot},
    {"defaults", required_argument, nullptr, kDefaults},
    {"width", required_argument, nullptr, kWidth},
    {"height", required_argument, nullptr, kHeight},
    {"full-screen", no_argument, nullptr, kFullScreen},
    {"miss-rounds", required_argument, nullptr, kMissRounds},
    {"miss-copies", required_argument, nullptr, kMissCopies},
    {"hits", required_argument, nullptr, kHits},
    {"warmup", required_argument, nullptr, kWarmup},
    {"pid", required_argument, nullptr, kPid},
    {"new-connection", no_argument, nullptr, kNewConnection},
    {"timeout", required_argument, nullptr, kTimeout},
    {"format", required_argument, nullptr, kFormat},
    {"label", required_argument, nullptr, kLabel},
    {"help", no_argument, nullptr, kHelp},
    {nullptr, 0, nullptr, 0},
};

std::string Absolute(std::string const& path) {
  if (!path.empty() && path[0] == '/') return path;
  char folder[PATH_MAX];
  if (getcwd(folder, sizeof(folder)) == nullptr) return path;
  return std::string(folder) + "/" + path;
}

}  // namespace

bool ParseLoadgenOptions(int argc, char** argv, QLLoadgenOptions* options, std::string* error) {
  optind = 0;
  opterr = 0;
  for (;;) {
    int const option = getopt_long(argc, argv, "", kOptions, nullptr);
    if (option == -1) break;
    std::uint64_t number = 0;
    char const* name = "";
    for (struct option const* known = kOptions; known->name; ++known) {
      if (known->val == option) name = known->name;
    }
    switch (option) {
      case kSocket:
        options->socket = optarg;
        break;
      case kClients:
      case kWidth:
      case kHeight:
      case kMissRounds:
      case kMissCopies:
      case kHits:
      case kPid:
      case kTimeout: {
        unsigned long long const high = option == kClients      ? 256
                                        : option == kMissRounds ? 1000
                                        : option == kMissCopies ? 64
                                        : option == kHits       ? 100000000
                                        : option == kTimeout    ? 3600
                                        : option == kPid        ? INT_MAX
                                                                : 65535;
        unsigned long long const low = option == kMissRounds || option == kHits ? 0 : 1;
        if (!ParseUnsigned(optarg, low, high, &number)) {
          *error = std::string("--") + name + " expects a whole number from " +
                   std::to_string(low) + " to " + std::to_string(high) + ", not '" + optarg + "'";
          return false;
        }
        if (option == kClients) options->clients = static_cast<unsigned int>(number);
        if (option == kWidth) options->width = static_cast<std::uint32_t>(number);
        if (option == kHeight) options->height = static_cast<std::uint32_t>(number);
        if (option == kMissRounds) options->miss_rounds = static_cast<unsigned int>(number);
        if (option == kMissCopies) options->miss_copies = static_cast<unsigned int>(number);
        if (option == kHits) options->hits = static_cast<std::size_t>(number);
        if (option == kPid) options->daemon_pid = static_cast<pid_t>(number);
        if (option == kTimeout) options->timeout_seconds = static_cast<unsigned int>(number);
        break;
      }
      case kCacheRoot:
        options->cache_root = Absolute(optarg);
        break;
      case kDefaults:
        options->default_folder = Absolute(optarg);
        break;
      case kFullScreen:
        options->full_screen = true;
        break;
      case kWarmup:
        options->warmup = Absolute(optarg);
        break;
      case kNewConnection:
        options->new_connection = true;
        break;
      case kFormat:
        if (std::string(optarg) != "kv" && std::string(optarg) != "text") {
          *error = std::string("--format expects 'text' or 'kv', not '") + optarg + "'";
          return false;
        }
        options->key_values = std::string(optarg) == "kv";
        break;
      case kLabel:
        options->label = optarg;
        break;
      case kHelp:
        options->help = true;
        return true;
      default:
        *error = std::string("unknown option or missing value: ") + argv[optind - 1];
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) options->files.push_back(Absolute(argv[i]));
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
