#include "main/ql_helper_process_main.h"

#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <climits>
#include <cstdint>

#include "ipc/ql_process_helper_socket.h"
#include "ipc/ql_process_socket_server.h"
#include "log/ql_log.h"
#include "main/ql_helper_process_main_internal.h"
#include "main/ql_lock.h"
#include "main/ql_service_notifier.h"
#include "main/ql_service_registry.h"

namespace {

// getopt_long values of the long-only options; outside the range of letters.
enum LongOnlyOption {
  kMaxMessageBytesOption = 256,
  kMaxSourcePixelsOption,
  kMaxThumbnailPixelsOption,
  kJpegShrinkOnLoadOption,
  kPngLevelOption,
  kPngFiltersOption,
  kJobsOption,
  kLockWaitMsOption,
  kHelpOption,
  // Running unprivileged and confined.
  kVersionOption,
  kPidFileOption,
  kSocketModeOption,
  kSocketGroupOption,
  kAllowUidOption,
  kAllowGidOption,
  kAllowRootOption,
  kLogConsoleOption,
  kLogSyslogOption,
};

// An hour: longer than any request could sensibly wait.
const unsigned long long kMaxLockWaitMs = 3600000;

std::atomic<bool> g_stop_started(false);

boost::mutex g_lock_mutex;  // guards g_lock_held
bool g_lock_held = false;

// Whole decimal text from `low` to `high`; false (and *value untouched)
// otherwise.
bool ParseNumber(char const* text, unsigned long long low, unsigned long long high,
                 unsigned long long* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long const parsed = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

void ReportIgnored(char const* program, char const* option, char const* value,
                   char const* expected) {
  fprintf(stderr, "%s: ignoring --%s '%s' (expected %s)\n", program, option, value, expected);
}

// A pixel-count limit: any positive number; anything else is reported and
// leaves the limit as it was.
void ParsePixelLimit(char const* program, char const* option, char const* value,
                     std::uint64_t* limit) {
  unsigned long long pixels = 0;
  if (ParseNumber(value, 1, ULLONG_MAX, &pixels)) {
    *limit = pixels;
  } else {
    ReportIgnored(program, option, value, "a positive number");
  }
}

// A group name or number; false when it is neither.
bool ParseGroup(char const* text, long* gid) {
  unsigned long long number = 0;
  if (ParseNumber(text, 0, static_cast<gid_t>(-1) - 1ull, &number)) {
    *gid = static_cast<long>(number);
    return true;
  }
  struct group entry;
  struct group* found = nullptr;
  char buffer[16384];
  if (getgrnam_r(text, &entry, buffer, sizeof(buffer), &found) != 0 || found == nullptr) {
    return false;
  }
  *gid = static_cast<long>(found->gr_gid);
  return true;
}

// The options for running unprivileged and confined; true when `option` was
// one of them.
bool ParseServiceOption(int option, char const* program, char const* value,
                        QLArguments* arguments) {
  std::string error;
  switch (option) {
    case kVersionOption:
      arguments->show_version = true;
      return true;
    case kPidFileOption:
      if (value[0] == '/') {
        arguments->pid_file = value;
      } else {
        ReportIgnored(program, "pid-file", value, "an absolute path");
      }
      return true;
    case kSocketModeOption: {
      char* end = nullptr;
      errno = 0;
      long const mode = strtol(value, &end, 8);
      if (value[0] >= '0' && value[0] <= '7' && errno == 0 && *end == '\0' && mode <= 0777) {
        arguments->socket_mode = static_cast<int>(mode);
      } else {
        ReportIgnored(program, "socket-mode", value, "octal permission bits, 0 to 0777");
      }
      return true;
    }
    case kSocketGroupOption:
      if (!ParseGroup(value, &arguments->socket_group)) {
        ReportIgnored(program, "socket-group", value, "a group name or id");
      }
      return true;
    case kAllowUidOption:
    case kAllowGidOption: {
      bool const users = option == kAllowUidOption;
      bool const added = users ? arguments->peer_filter.AddUsers(value, &error)
                               : arguments->peer_filter.AddGroups(value, &error);
      // The filter restricts all the same: a mistyped list refuses peers
      // rather than letting everyone in.
      if (!added) {
        fprintf(stderr, "%s: --%s '%s': %s; none of the list is allowed\n", program,
                users ? "allow-uid" : "allow-gid", value, error.c_str());
      }
      return true;
    }
    case kAllowRootOption:
      arguments->thumbnail.allowed_roots.push_back(value);
      return true;
    case kLogConsoleOption:
      arguments->log_to_console = true;
      return true;
    case kLogSyslogOption:
      arguments->log_to_syslog = true;
      return true;
    default:
      return false;
  }
}

}  // namespace

struct option long_options[] = {
    {"loglevel", required_argument, 0, 'l'},
    {"logfile", required_argument, 0, 'o'},
    {"max-message-bytes", required_argument, 0, kMaxMessageBytesOption},
    {"max-source-pixels", required_argument, 0, kMaxSourcePixelsOption},
    {"max-thumbnail-pixels", required_argument, 0, kMaxThumbnailPixelsOption},
    {"jpeg-shrink-on-load", no_argument, 0, kJpegShrinkOnLoadOption},
    {"png-level", required_argument, 0, kPngLevelOption},
    {"png-filters", required_argument, 0, kPngFiltersOption},
    {"jobs", required_argument, 0, kJobsOption},
    {"lock-wait-ms", required_argument, 0, kLockWaitMsOption},
    {"help", no_argument, 0, kHelpOption},
    {"version", no_argument, 0, kVersionOption},
    {"pid-file", required_argument, 0, kPidFileOption},
    {"socket-mode", required_argument, 0, kSocketModeOption},
    {"socket-group", required_argument, 0, kSocketGroupOption},
    {"allow-uid", required_argument, 0, kAllowUidOption},
    {"allow-gid", required_argument, 0, kAllowGidOption},
    {"allow-root", required_argument, 0, kAllowRootOption},
    {"log-console", no_argument, 0, kLogConsoleOption},
    {"log-syslog", no_argument, 0, kLogSyslogOption},
    {0, 0, 0, 0},
};

int parse_arguments(int argc, char** argv, QLArguments* arguments) {
  if (argv == nullptr || arguments == nullptr) return 0;
  optind = 0;  // full rescan, also when called more than once
  for (;;) {
    int index = 0;
    int const option = getopt_long(argc, argv, "l:o:", long_options, &index);
    if (option == -1) return 1;
    switch (option) {
      case 'l':
        arguments->log_level = atoi(optarg);
        break;
      case 'o':
        arguments->log_file_path = std::string(optarg) + "/" + GetLogFileName();
        break;
      case kMaxMessageBytesOption: {
        unsigned long long bound = 0;
        if (ParseNumber(optarg, 1, INT_MAX, &bound)) {
          QLProcessHelperSocket::SetMaxMessageLength(static_cast<unsigned int>(bound));
        } else {
          ReportIgnored(argv[0], "max-message-bytes", optarg, "1 to 2147483647");
        }
        break;
      }
      case kMaxSourcePixelsOption:
        ParsePixelLimit(argv[0], "max-source-pixels", optarg,
                        &arguments->thumbnail.max_source_pixels);
        break;
      case kMaxThumbnailPixelsOption:
        ParsePixelLimit(argv[0], "max-thumbnail-pixels", optarg,
                        &arguments->thumbnail.max_thumbnail_pixels);
        break;
      case kJpegShrinkOnLoadOption:
        arguments->thumbnail.jpeg_shrink_on_load = true;
        break;
      case kPngLevelOption: {
        unsigned long long level = 0;
        if (ParseNumber(optarg, 0, 9, &level)) {
          arguments->thumbnail.png_compression_level = static_cast<int>(level);
        } else {
          ReportIgnored(argv[0], "png-level", optarg, "0 to 9");
        }
        break;
      }
      case kPngFiltersOption: {
        int mask = 0;
        if (ParsePngFilters(optarg, &mask)) {
          arguments->thumbnail.png_filters = mask;
        } else {
          ReportIgnored(argv[0], "png-filters", optarg,
                        "none, sub, up, avg, paeth or all, comma-separated");
        }
        break;
      }
      case kJobsOption: {
        unsigned long long jobs = 0;
        if (ParseNumber(optarg, 1, 64, &jobs)) {
          arguments->thumbnail.jobs = static_cast<unsigned int>(jobs);
        } else {
          ReportIgnored(argv[0], "jobs", optarg, "1 to 64");
        }
        break;
      }
      case kLockWaitMsOption: {
        unsigned long long wait = 0;
        if (ParseNumber(optarg, 0, kMaxLockWaitMs, &wait)) {
          arguments->thumbnail.lock_wait_ms = static_cast<unsigned int>(wait);
        } else {
          ReportIgnored(argv[0], "lock-wait-ms", optarg, "0 to 3600000");
        }
        break;
      }
      case kHelpOption:
        arguments->show_help = true;
        break;
      case '?':
        // getopt_long has printed its message. A missing value ends the
        // parse; an unknown option is skipped.
        if (optopt == 'l' || optopt == 'o' || optopt >= kMaxMessageBytesOption) return 0;
        break;
      default:
        ParseServiceOption(option, argv[0], optarg, arguments);
        break;
    }
  }
}

void PrintUsage(FILE* out, char const* program) {
  QLThumbnailOptions const defaults;
  fprintf(out,
          "usage: %s [options]\n"
          "  -l, --loglevel N          0 errors, 1 +warnings, 2 +info, 3 +debug (default 3);\n"
          "                            negative: no log\n"
          "  -o, --logfile DIR         log to DIR/%s (default: %s in the working directory)\n"
          "      --max-message-bytes N largest request frame accepted (default %u)\n"
          "      --max-source-pixels N largest source picture decoded, width x height\n"
          "                            (default %llu); larger files get the default picture\n"
          "      --max-thumbnail-pixels N  largest thumbnail canvas (default %llu);\n"
          "                            larger requests get the failure reply\n"
          "      --jpeg-shrink-on-load decode JPEG photos at 1/2, 1/4 or 1/8 size when the\n"
          "                            thumbnail needs no more (off by default)\n"
          "      --png-level N         zlib level 0-9 for thumbnails (default: libgd's)\n"
          "      --png-filters LIST    PNG row filters: none,sub,up,avg,paeth or all\n"
          "                            (default: libgd's)\n"
          "      --jobs N              make up to N thumbnails at once, 1-64 (default: one\n"
          "                            at a time under a single lock)\n"
          "      --lock-wait-ms N      answer a request with the failure reply when it has\n"
          "                            waited N ms for the provider lock (with --jobs: for\n"
          "                            its cache entry or a job slot); 0, the default:\n"
          "                            wait as long as it takes\n"
          "      --log-console         also log to standard error (the journal under systemd)\n"
          "      --log-syslog          also log to syslog\n"
          "      --pid-file PATH       the single-instance pid file (default /var/run/%s.pid)\n"
          "      --socket-mode OCTAL   permission bits of the socket it binds, e.g. 0660\n"
          "                            (default: as the umask gives)\n"
          "      --socket-group NAME   group of the socket it binds (default: its own)\n"
          "      --allow-uid LIST      serve only these users (comma-separated names or ids)\n"
          "      --allow-gid LIST      ... or members of these groups (default: everyone)\n"
          "      --allow-root DIR      requests' files and folders must resolve inside DIR\n"
          "                            (repeatable; default: anywhere)\n"
          "      --version             print the name and version and exit\n"
          "      --help                print this text and exit\n",
          program, GetLogFileName().c_str(), GetLogFileName().c_str(),
          QLProcessHelperSocket::kDefaultMaxMessageLength,
          static_cast<unsigned long long>(defaults.max_source_pixels),
          static_cast<unsigned long long>(defaults.max_thumbnail_pixels), GetProcessName().c_str());
}

void sig_handler(int signal_number) {
  if (signal_number != SIGINT && signal_number != SIGQUIT && signal_number != SIGTERM) return;
  // A second signal during (or after) the stop must not run it again.
  if (g_stop_started.exchange(true)) return;

  NotifyServiceManager("STOPPING=1");
  std::string const name = GetProcessName();
  QL_INFO(name << " helper process stopping(" << signal_number << ")...");
  boost::shared_ptr<QLProcessHelperSocketServerService> service =
      QLServiceRegistry::RetriveService<QLProcessHelperSocketServerService>(
          QLProcessHelperSocketServerService::kName);
  if (service) service->StopServer();
  service.reset();
  QL_INFO(name << " helper process stoped");

  // Before this process wrote the pid file, the file (if any) belongs to
  // another instance and must stay.
  boost::lock_guard<boost::mutex> lock(g_lock_mutex);
  if (!g_lock_held) return;
  g_lock_held = false;
  if (ql_unlock(name.c_str()) != 0) QL_ERROR("Quorlin lock unlock problem! Check lock!");
}

int TakeProcessLock(char const* name) {
  boost::lock_guard<boost::mutex> lock(g_lock_mutex);
  int const result = ql_lock(name);
  if (result == 0) g_lock_held = true;
  return result;
}

bool StopRequested() { return g_stop_started; }

void ResetProcessFrameForTesting() {
  g_stop_started = false;
  boost::lock_guard<boost::mutex> lock(g_lock_mutex);
  g_lock_held = false;
}
