#include "support/ql_daemon_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"
#include "support/ql_wait_until.h"

namespace {

// Writes `value` in decimal after the '=' of `variable`, whose room after
// it must hold the digits (async-signal-safe: used between fork and exec).
void WriteNumberAfterEquals(char* variable, long value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  char* out = strchr(variable, '=') + 1;
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
}

}  // namespace

QLDaemonProcess::QLDaemonProcess(std::string const& binary,
                                 std::vector<std::string> const& arguments,
                                 std::string const& working_dir, QLDaemonExtras const& extras)
    : pid_(-1) {
  // The child's environment is built before fork; only LISTEN_PID's number
  // is filled in by the child, which alone knows its pid.
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.push_back(*variable);
  }
  environment.insert(environment.end(), extras.environment.begin(), extras.environment.end());
  if (extras.listen_fd >= 0) {
    environment.push_back("LISTEN_FDS=1");
    environment.push_back("LISTEN_PID=" + std::string(20, ' '));
  }
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(&variable[0]);
  envp.push_back(nullptr);
  char* const listen_pid = extras.listen_fd >= 0 ? envp[envp.size() - 2] : nullptr;
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
    if (listen_pid != nullptr) {
      // The passed socket must be descriptor 3 and survive exec.
      if (extras.listen_fd != 3 && dup2(extras.listen_fd, 3) != 3) _exit(125);
      if (fcntl(3, F_SETFD, 0) != 0) _exit(125);
      WriteNumberAfterEquals(listen_pid, static_cast<long>(getpid()));
    }
    execve(binary.c_str(), argv.data(), envp.data());
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

QLToolRun RunTool(std::string const& binary, std::vector<std::string> const& arguments,
                  std::string const& working_dir, int timeout_ms) {
  QLDaemonProcess tool(binary, arguments, working_dir);
  int status = 0;
  QLToolRun run;
  if (tool.WaitExit(timeout_ms, &status) && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.messages = ReadFileText(working_dir + "/stderr.txt");
  return run;
}
