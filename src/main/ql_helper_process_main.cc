#include "main/ql_helper_process_main.h"

#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <vector>

#include "base/ql_mutex.h"
#include "base/ql_parse_number.h"
#include "ipc/ql_process_helper_socket.h"
#include "ipc/ql_process_socket_server.h"
#include "log/ql_log.h"
#include "main/ql_helper_process_main_internal.h"
#include "main/ql_lock.h"
#include "main/ql_service_notifier.h"
#include "service/ql_service_registry.h"

namespace {

// getopt_long values of the frame's long-only options and, from
// kFirstHelperOption on, of the helper's options; outside the range of
// letters.
enum LongOnlyOption {
  kMaxMessageBytesOption = 256,
  kHelpOption,
  // Running unprivileged and confined.
  kVersionOption,
  kPidFileOption,
  kSocketModeOption,
  kSocketGroupOption,
  kAllowUidOption,
  kAllowGidOption,
  kLogConsoleOption,
  kLogSyslogOption,
  // What one peer can cost.
  kMaxPeerConnectionsOption,
  kFrameTimeoutOption,
  kIdleTimeoutOption,
  kFirstHelperOption,
};

std::atomic<bool> g_stop_started(false);

QLMutex g_lock_mutex;
bool g_lock_held GUARDED_BY(g_lock_mutex) = false;

void ReportIgnored(char const* program, char const* option, char const* value,
                   char const* expected) {
  fprintf(stderr, "%s: ignoring --%s '%s' (expected %s)\n", program, option, value, expected);
}

// A group name or number; false when it is neither.
bool ParseGroup(char const* text, long* gid) {
  std::uint64_t number = 0;
  if (ParseUnsigned(text, 0, static_cast<gid_t>(-1) - 1ull, &number)) {
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
  std::uint64_t number = 0;
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
    case kLogConsoleOption:
      arguments->log_to_console = true;
      return true;
    case kLogSyslogOption:
      arguments->log_to_syslog = true;
      return true;
    case kMaxPeerConnectionsOption:
      if (ParseUnsigned(value, 0, 65535, &number)) {
        arguments->max_peer_connections = static_cast<std::size_t>(number);
      } else {
        ReportIgnored(program, "max-peer-connections", value, "0 (no cap) to 65535");
      }
      return true;
    case kFrameTimeoutOption:
      if (ParseUnsigned(value, 1, 600000, &number)) {
        arguments->frame_timeout_ms = static_cast<int>(number);
      } else {
        ReportIgnored(program, "frame-timeout-ms", value, "1 to 600000");
      }
      return true;
    case kIdleTimeoutOption:
      if (ParseUnsigned(value, 0, 86400000, &number)) {
        arguments->idle_timeout_ms = static_cast<int>(number);
      } else {
        ReportIgnored(program, "idle-timeout-ms", value, "0 (none) to 86400000");
      }
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
    {"help", no_argument, 0, kHelpOption},
    {"version", no_argument, 0, kVersionOption},
    {"pid-file", required_argument, 0, kPidFileOption},
    {"socket-mode", required_argument, 0, kSocketModeOption},
    {"socket-group", required_argument, 0, kSocketGroupOption},
    {"allow-uid", required_argument, 0, kAllowUidOption},
    {"allow-gid", required_argument, 0, kAllowGidOption},
    {"log-console", no_argument, 0, kLogConsoleOption},
    {"log-syslog", no_argument, 0, kLogSyslogOption},
    {"max-peer-connections", required_argument, 0, kMaxPeerConnectionsOption},
    {"frame-timeout-ms", required_argument, 0, kFrameTimeoutOption},
    {"idle-timeout-ms", required_argument, 0, kIdleTimeoutOption},
    {0, 0, 0, 0},
};

namespace {

// long_options with the helper's options before "help", the order --help
// lists them in (getopt_long names ambiguous abbreviations in table order).
// The names point into `helper_options`, which must outlive the table.
std::vector<struct option> MergedOptionTable(
    std::vector<QLCommandLineOption> const& helper_options) {
  std::vector<struct option> table;
  for (struct option const* entry = long_options; entry->name != nullptr; ++entry) {
    if (entry->val == kHelpOption) {
      for (std::size_t i = 0; i < helper_options.size(); ++i) {
        table.push_back({helper_options[i].name.c_str(),
                         helper_options[i].takes_value ? required_argument : no_argument, 0,
                         kFirstHelperOption + static_cast<int>(i)});
      }
    }
    table.push_back(*entry);
  }
  table.push_back({0, 0, 0, 0});
  return table;
}

bool InTable(std::vector<struct option> const& table, int value) {
  for (struct option const& entry : table) {
    if (entry.name != nullptr && entry.val == value) return true;
  }
  return false;
}

}  // namespace

int parse_arguments(int argc, char** argv, QLArguments* arguments) {
  if (argv == nullptr || arguments == nullptr) return 0;
  std::vector<QLCommandLineOption> const helper_options = GetHelperOptions();
  std::vector<struct option> const table = MergedOptionTable(helper_options);
  optind = 0;  // full rescan, also when called more than once
  for (;;) {
    int index = 0;
    int const option = getopt_long(argc, argv, "l:o:", table.data(), &index);
    if (option == -1) return 1;
    switch (option) {
      case 'l':
        arguments->log_level = atoi(optarg);
        break;
      case 'o':
        arguments->log_file_path = std::string(optarg) + "/" + GetLogFileName();
        break;
      case kMaxMessageBytesOption: {
        std::uint64_t bound = 0;
        if (ParseUnsigned(optarg, 1, INT_MAX, &bound)) {
          QLProcessHelperSocket::SetMaxMessageLength(static_cast<unsigned int>(bound));
        } else {
          ReportIgnored(argv[0], "max-message-bytes", optarg, "1 to 2147483647");
        }
        break;
      }
      case kHelpOption:
        arguments->show_help = true;
        break;
      case '?':
        // getopt_long has printed its message. A missing value (or a value
        // given to an option that takes none) ends the parse; an unknown
        // option is skipped.
        if (optopt != 0 && InTable(table, optopt)) return 0;
        break;
      default:
        if (option >= kFirstHelperOption &&
            static_cast<std::size_t>(option - kFirstHelperOption) < helper_options.size()) {
          QLCommandLineOption const& helper_option = helper_options[option - kFirstHelperOption];
          if (!helper_option.apply(optarg)) {
            ReportIgnored(argv[0], helper_option.name.c_str(), optarg,
                          helper_option.expected.c_str());
          }
        } else {
          ParseServiceOption(option, argv[0], optarg, arguments);
        }
        break;
    }
  }
}

void PrintUsage(FILE* out, char const* program) {
  fprintf(out,
          "usage: %s [options]\n"
          "  -l, --loglevel N          0 errors, 1 +warnings, 2 +info, 3 +debug (default 3);\n"
          "                            negative: no log\n"
          "  -o, --logfile DIR         log to DIR/%s (default: %s in the working directory)\n"
          "      --max-message-bytes N largest request frame accepted (default %u: three\n"
          "                            escaped paths of PATH_MAX and the other keys)\n"
          "      --max-peer-connections N  connections one user other than root may hold\n"
          "                            open (default %zu; 0: no cap)\n"
          "      --frame-timeout-ms N  a begun request frame must be whole within N ms\n"
          "                            or its connection is closed (default %d)\n"
          "      --idle-timeout-ms N   close connections idle N ms between requests\n"
          "                            (default 0: never)\n"
          "      --log-console         also log to standard error (the journal under systemd)\n"
          "      --log-syslog          also log to syslog\n"
          "      --pid-file PATH       the single-instance pid file (default /var/run/%s.pid)\n"
          "      --socket-mode OCTAL   permission bits of the socket it binds, e.g. 0660\n"
          "                            (default: as the umask gives)\n"
          "      --socket-group NAME   group of the socket it binds (default: its own)\n"
          "      --allow-uid LIST      serve only these users (comma-separated names or ids)\n"
          "      --allow-gid LIST      ... or members of these groups (default: everyone)\n",
          program, GetLogFileName().c_str(), GetLogFileName().c_str(),
          QLProcessHelperSocket::kDefaultMaxMessageLength,
          QLProcessHelperSocketServerService::kDefaultMaxPeerConnections,
          QLProcessHelperSocketServerService::kDefaultFrameTimeoutMs, GetProcessName().c_str());
  for (QLCommandLineOption const& helper_option : GetHelperOptions()) {
    fputs(helper_option.help.c_str(), out);
  }
  fputs(
      "      --version             print the name and version and exit\n"
      "      --help                print this text and exit\n",
      out);
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
  QLMutexLock lock(&g_lock_mutex);
  if (!g_lock_held) return;
  g_lock_held = false;
  if (ql_unlock(name.c_str()) != 0) QL_ERROR("Quorlin lock unlock problem! Check lock!");
}

int TakeProcessLock(char const* name) {
  QLMutexLock lock(&g_lock_mutex);
  int const result = ql_lock(name);
  if (result == 0) g_lock_held = true;
  return result;
}

bool StopRequested() { return g_stop_started; }

void ResetProcessFrameForTesting() {
  g_stop_started = false;
  QLMutexLock lock(&g_lock_mutex);
  g_lock_held = false;
}
