#include "main/ql_helper_process_main.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <climits>

#include "ipc/ql_process_helper_socket.h"
#include "ipc/ql_process_socket_server.h"
#include "log/ql_log.h"
#include "main/ql_helper_process_main_internal.h"
#include "main/ql_lock.h"
#include "main/ql_service_registry.h"

namespace {

// getopt_long value of the long-only option; outside the range of letters.
const int kMaxMessageBytesOption = 256;

std::atomic<bool> g_stop_started(false);

boost::mutex g_lock_mutex;  // guards g_lock_held
bool g_lock_held = false;

// Whole decimal text from 1 to INT_MAX, or 0.
unsigned int ParseMessageBound(char const* text) {
  if (text == nullptr || *text < '0' || *text > '9') return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long value = strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0 || value > static_cast<unsigned long>(INT_MAX)) {
    return 0;
  }
  return static_cast<unsigned int>(value);
}

}  // namespace

struct option long_options[] = {
    {"loglevel", required_argument, 0, 'l'},
    {"logfile", required_argument, 0, 'o'},
    {"max-message-bytes", required_argument, 0, kMaxMessageBytesOption},
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
        unsigned int const bound = ParseMessageBound(optarg);
        if (bound == 0) {
          fprintf(stderr, "%s: ignoring --max-message-bytes '%s' (expected 1 to %d)\n", argv[0],
                  optarg, INT_MAX);
        } else {
          QLProcessHelperSocket::SetMaxMessageLength(bound);
        }
        break;
      }
      case '?':
        // getopt_long has printed its message. A missing value ends the
        // parse; an unknown option is skipped.
        if (optopt == 'l' || optopt == 'o' || optopt == kMaxMessageBytesOption) return 0;
        break;
      default:
        break;
    }
  }
}

void sig_handler(int signal_number) {
  if (signal_number != SIGINT && signal_number != SIGQUIT && signal_number != SIGTERM) return;
  // A second signal during (or after) the stop must not run it again.
  if (g_stop_started.exchange(true)) return;

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
