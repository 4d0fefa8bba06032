#include "support/ql_daemon_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"
#include "support/ql_wait_until.h"

QLDaemonProcess::QLDaemonProcess(std::string const& binary,
                                 std::vector<std::string> const& arguments,
                                 std::string const& working_dir)
    : pid_(-1) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (size_t i = 0; i < arguments.size(); ++i) {
    argv.push_back(const_cast<char*>(arguments[i].c_str()));
  }
  argv.push_back(nullptr);
  std::string const out_path = working_dir + "/stdout.txt";
  std::string const err_path = working_dir + "/stderr.txt";
  pid_ = fork();
  if (pid_ == 0) {
    // Child: only async-signal-safe calls until exec.
    if (chdir(working_dir.c_str()) != 0) _exit(126);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    // The test runner may have blocked signals; the daemon starts clean.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
}

QLDaemonProcess::~QLDaemonProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool QLDaemonProcess::Signal(int signal_number) {
  return pid_ > 0 && kill(pid_, signal_number) == 0;
}

bool QLDaemonProcess::WaitExit(int timeout_ms, int* status) {
  if (pid_ <= 0) return false;
  bool const ended = WaitUntil(
      [&] {
        pid_t const done = waitpid(pid_, status, WNOHANG);
        return done == pid_;
      },
      timeout_ms);
  if (ended) pid_ = -1;
  return ended;
}

pid_t LivePidFromPidFile(std::string const& pid_file, std::string const& name) {
  std::string const text = ReadFileText(pid_file);
  int pid = 0;
  if (sscanf(text.c_str(), "%d", &pid) != 1 || pid <= 0) return 0;
  std::string const cmdline = ReadFileText("/proc/" + std::to_string(pid) + "/cmdline");
  std::string const program = cmdline.substr(0, cmdline.find('\0'));
  return program.find(name) != std::string::npos ? pid : 0;
}

int ConnectWhenListening(std::string const& path, int timeout_ms) {
  int fd = -1;
  WaitUntil(
      [&] {
        fd = ConnectTo(path);
        return fd >= 0;
      },
      timeout_ms);
  return fd;
}
