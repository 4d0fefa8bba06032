// Starts the real daemon binary as a child process for process-level tests.
//
// The child runs in `working_dir` with its standard output and error going to
// files there. The destructor kills (SIGKILL) and reaps a child still
// running. Used by one thread.
#ifndef QUORLIN_TESTS_SUPPORT_QL_DAEMON_LAUNCHER_H_
#define QUORLIN_TESTS_SUPPORT_QL_DAEMON_LAUNCHER_H_

#include <sys/types.h>

#include <string>
#include <vector>

// What a service manager adds to a daemon it starts.
struct QLDaemonExtras {
  std::vector<std::string> environment;  // "NAME=value", added to the inherited ones
  // When not -1: handed over as descriptor 3 with LISTEN_FDS=1 and
  // LISTEN_PID naming the child, as socket activation does.
  int listen_fd = -1;
};

class QLDaemonProcess {
 public:
  QLDaemonProcess(std::string const& binary, std::vector<std::string> const& arguments,
                  std::string const& working_dir, QLDaemonExtras const& extras = QLDaemonExtras());
  ~QLDaemonProcess();
  QLDaemonProcess(QLDaemonProcess const&) = delete;
  QLDaemonProcess& operator=(QLDaemonProcess const&) = delete;

  pid_t pid() const { return pid_; }
  bool Signal(int signal_number);
  // Waits up to `timeout_ms` for the child to end; true with its wait status.
  bool WaitExit(int timeout_ms, int* status);
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_;
};

// How a command-line tool run to its end went.
struct QLToolRun {
  int status = -1;       // exit status, or -1 when the tool did not exit normally
  std::string messages;  // its standard error
};

// Runs `binary` with `arguments` in `working_dir` and waits up to `timeout_ms`
// for it to end.
QLToolRun RunTool(std::string const& binary, std::vector<std::string> const& arguments,
                  std::string const& working_dir, int timeout_ms);

// The pid in a pid file when that process is alive and its argv[0] contains
// `name`; 0 otherwise.
pid_t LivePidFromPidFile(std::string const& pid_file, std::string const& name);

// Retries connecting to `path` until it works or `timeout_ms` passes; the
// connected descriptor or -1.
int ConnectWhenListening(std::string const& path, int timeout_ms);

#endif  // QUORLIN_TESTS_SUPPORT_QL_DAEMON_LAUNCHER_H_
