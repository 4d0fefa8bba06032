#include "main/ql_helper_process_main.h"

#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/ql_command_line_option.h"
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

std::atomic<bool> g_stop_started(false);

QLMutex g_lock_mutex;
bool g_lock_held GUARDED_BY(g_lock_mutex) = false;

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

QLCommandLineOption Valued(char const* name, char const* expected,
                           std::function<bool(char const*)> apply) {
  QLCommandLineOption option;
  option.name = name;
  option.takes_value = true;
  option.expected = expected;
  option.apply = std::move(apply);
  return option;
}

// A peer list: the filter restricts all the same when the list is refused,
// so a mistyped list refuses peers rather than letting everyone in.
QLCommandLineOption PeerList(char const* name, char const* program, QLArguments* arguments) {
  bool const users = std::string(name) == "allow-uid";
  return Valued(name, "", [=](char const* value) {
    std::string error;
    bool const added = users ? arguments->peer_filter.AddUsers(value, &error)
                             : arguments->peer_filter.AddGroups(value, &error);
    if (!added) {
      fprintf(stderr, "%s: --%s '%s': %s; none of the list is allowed\n", program, name, value,
              error.c_str());
    }
    return true;
  });
}

// The frame's options, with the helper's before "help" (the order --help
// lists them in), each applying to `arguments`.
std::vector<QLCommandLineOption> FrameOptions(char const* program, QLArguments* arguments) {
  std::vector<QLCommandLineOption> options;
  options.push_back(Valued("loglevel", "", [arguments](char const* value) {
    arguments->log_level = atoi(value);  // not a number: 0
    return true;
  }));
  options.back().letter = 'l';
  options.push_back(Valued("logfile", "", [arguments](char const* value) {
    arguments->log_file_path = std::string(value) + "/" + GetLogFileName();
    return true;
  }));
  options.back().letter = 'o';
  options.push_back(
      NumberOption("max-message-bytes", 1, INT_MAX, "1 to 2147483647", [](std::uint64_t bound) {
        QLProcessHelperSocket::SetMaxMessageLength(static_cast<unsigned int>(bound));
      }));
  for (QLCommandLineOption& helper_option : GetHelperOptions()) {
    options.push_back(std::move(helper_option));
  }
  options.push_back(FlagOption("help", &arguments->show_help));
  options.push_back(FlagOption("version", &arguments->show_version));
  options.push_back(Valued("pid-file", "an absolute path", [arguments](char const* value) {
    if (value[0] != '/') return false;
    arguments->pid_file = value;
    return true;
  }));
  options.push_back(
      Valued("socket-mode", "octal permission bits, 0 to 0777", [arguments](char const* value) {
        char* end = nullptr;
        errno = 0;
        long const mode = strtol(value, &end, 8);
        if (value[0] < '0' || value[0] > '7' || errno != 0 || *end != '\0' || mode > 0777) {
          return false;
        }
        arguments->socket_mode = static_cast<int>(mode);
        return true;
      }));
  options.push_back(Valued("socket-group", "a group name or id", [arguments](char const* value) {
    return ParseGroup(value, &arguments->socket_group);
  }));
  options.push_back(PeerList("allow-uid", program, arguments));
  options.push_back(PeerList("allow-gid", program, arguments));
  options.push_back(FlagOption("log-console", &arguments->log_to_console));
  options.push_back(FlagOption("log-syslog", &arguments->log_to_syslog));
  options.push_back(
      NumberOption("max-peer-connections", 0, 65535, "0 (no cap) to 65535",
                   [arguments](std::uint64_t n) { arguments->max_peer_connections = n; }));
  options.push_back(NumberOption(
      "frame-timeout-ms", 1, 600000, "1 to 600000",
      [arguments](std::uint64_t ms) { arguments->frame_timeout_ms = static_cast<int>(ms); }));
  options.push_back(NumberOption(
      "idle-timeout-ms", 0, 86400000, "0 (none) to 86400000",
      [arguments](std::uint64_t ms) { arguments->idle_timeout_ms = static_cast<int>(ms); }));
  return options;
}

}  // namespace

int parse_arguments(int argc, char** argv, QLArguments* arguments) {
  if (argv == nullptr || arguments == nullptr) return 0;
  std::string unused;
  return ParseCommandLine(argc, argv, FrameOptions(argv[0], arguments),
                          QLCommandLineMode::kReportAndGoOn, nullptr, &unused)
             ? 1
             : 0;
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
