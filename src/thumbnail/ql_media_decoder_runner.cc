#include "thumbnail/ql_media_decoder_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "base/ql_fs_identity.h"
#include "base/ql_unique_fd.h"

// Sanitizer runtimes reserve terabytes of address space at start-up, so
// their builds leave the address-space limit off.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QL_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QL_SANITIZED_BUILD 1
#endif
#endif

namespace {

typedef std::chrono::steady_clock Clock;

// Closes every descriptor from `first` on. Async-signal-safe.
void CloseFrom(int first) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, first, ~0u, 0) == 0) return;
#endif
  struct rlimit files;
  long last = 65536;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
      files.rlim_cur < 65536) {
    last = static_cast<long>(files.rlim_cur);
  }
  for (long fd = first; fd < last; ++fd) close(static_cast<int>(fd));
}

void SetLimit(int resource, std::uint64_t soft, std::uint64_t hard) {
  struct rlimit limit;
  limit.rlim_cur = soft;
  limit.rlim_max = hard;
  setrlimit(resource, &limit);
}

// Becomes `who` for good: groups, group and user, real, effective and saved.
// Raw system calls: the C library's would try to reach the daemon's other
// threads, which the child does not have.
bool BecomeCaller(QLFsCredentials const& who) {
  return syscall(SYS_setgroups, who.groups.size(), who.groups.data()) == 0 &&
         syscall(SYS_setresgid, who.gid, who.gid, who.gid) == 0 &&
         syscall(SYS_setresuid, who.uid, who.uid, who.uid) == 0;
}

// The child side of fork(): only async-signal-safe calls, then exec. With
// `caller` set (the request's thread acted for a caller), the child becomes
// that caller before it execs, so the decoder has its rights and no more.
[[noreturn]] void BecomeDecoder(char* const* argv, int input_fd, int answer_fd, int null_fd,
                                pid_t parent, QLChildLimits const& limits,
                                QLFsCredentials const* caller) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  setpgid(0, 0);
  // The thread forked acted for the caller; the daemon's own file below is
  // written with the daemon's rights.
  if (caller) syscall(SYS_setfsuid, geteuid());
  // Should the service's memory run out while a decode runs, the kernel
  // kills the decoder, not the daemon.
  int const score = open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
  if (score >= 0) {
    ssize_t const written = write(score, "1000", 4);
    (void)written;
    close(score);
  }
  if (caller && !BecomeCaller(*caller)) _exit(127);
  // After the change of user, which clears it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  if (dup2(input_fd, STDIN_FILENO) < 0 || dup2(answer_fd, STDOUT_FILENO) < 0) _exit(127);
  if (null_fd >= 0) {
    dup2(null_fd, STDERR_FILENO);
  } else {
    close(STDERR_FILENO);
  }
  CloseFrom(STDERR_FILENO + 1);
#ifndef QL_SANITIZED_BUILD
  if (limits.address_space_bytes > 0) {
    SetLimit(RLIMIT_AS, limits.address_space_bytes, limits.address_space_bytes);
  }
#endif
  if (limits.cpu_seconds > 0) {
    // SIGXCPU at the soft limit, SIGKILL one second later.
    SetLimit(RLIMIT_CPU, limits.cpu_seconds, limits.cpu_seconds + 1);
  }
  SetLimit(RLIMIT_CORE, 0, 0);
  execv(argv[0], argv);
  _exit(127);
}

// Waits up to `timeout` for the child to end; true once it is reaped.
bool ReapWithin(pid_t pid, Clock::duration timeout, int* status) {
  Clock::time_point const deadline = Clock::now() + timeout;
  std::chrono::microseconds pause(200);
  for (;;) {
    pid_t const done = waitpid(pid, status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return true;  // not ours to wait for any more
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
  }
}

// Kills the child's group and reaps the child. A child that does not go
// within a second is stuck in the kernel; a detached thread waits for it.
void KillAndReap(pid_t pid, int* status) {
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  if (ReapWithin(pid, std::chrono::seconds(1), status)) return;
  std::thread([pid] {
    int ignored = 0;
    while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::string DescribeStatus(int status) {
  if (WIFSIGNALED(status)) {
    int const number = WTERMSIG(status);
    std::string text = "killed by signal " + std::to_string(number);
    if (number == SIGXCPU) text += " (CPU-time limit)";
    char const* name = strsignal(number);
    if (name && number != SIGXCPU) text += std::string(" (") + name + ")";
    return text;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return "could not be started";
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  return "ended oddly";
}

// Reads the child's answer until end of file, the deadline or a broken
// limit. kDone: `bytes` holds everything the child wrote.
enum class ReadOutcome { kDone, kTimedOut, kRefused, kFailed };

ReadOutcome ReadAnswer(int fd, Clock::time_point deadline, QLMediaAnswerLimits const& limits,
                       std::vector<std::uint8_t>* bytes, std::string* error) {
  std::size_t wanted = kQLMediaAnswerHeaderSize;  // the header, then the whole answer
  bool header_checked = false;
  bytes->assign(wanted, 0);
  std::size_t have = 0;
  for (;;) {
    auto const left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return ReadOutcome::kTimedOut;
    struct pollfd ready = {fd, POLLIN, 0};
    int const polled = poll(&ready, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (polled < 0 && errno != EINTR) {
      *error = std::string("poll failed: ") + strerror(errno);
      return ReadOutcome::kFailed;
    }
    if (polled <= 0) continue;
    // One byte past what is wanted shows an answer that goes on too long.
    std::uint8_t extra = 0;
    std::uint8_t* target = have < wanted ? bytes->data() + have : &extra;
    std::size_t const room = have < wanted ? wanted - have : 1;
    ssize_t const got = read(fd, target, room);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      *error = std::string("read failed: ") + strerror(errno);
      return ReadOutcome::kFailed;
    }
    if (got == 0) {
      bytes->resize(have);
      return ReadOutcome::kDone;
    }
    if (have >= wanted) {
      *error = "bytes after the answer";
      return ReadOutcome::kRefused;
    }
    have += static_cast<std::size_t>(got);
    if (!header_checked && have == kQLMediaAnswerHeaderSize) {
      std::uint32_t payload = 0;
      if (!CheckMediaAnswerHeader(bytes->data(), limits, &payload, error)) {
        return ReadOutcome::kRefused;
      }
      header_checked = true;
      wanted = kQLMediaAnswerHeaderSize + payload;
      bytes->resize(wanted);
    }
  }
}

}  // namespace

bool RunMediaDecoder(std::string const& program, std::vector<std::string> const& arguments,
                     int input_fd, QLChildLimits const& limits,
                     QLMediaAnswerLimits const& answer_limits, QLMediaAnswer* answer,
                     std::string* error) {
  // Everything the child needs is made before fork: it may not allocate.
  std::vector<std::string> words;
  words.push_back(program);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + strerror(errno);
    return false;
  }
  QLUniqueFd read_end(ends[0]);
  QLUniqueFd write_end(ends[1]);
  QLUniqueFd null_fd(open("/dev/null", O_WRONLY | O_CLOEXEC));
  Clock::time_point const deadline = Clock::now() + std::chrono::milliseconds(limits.wall_clock_ms);
  pid_t const parent = getpid();
  QLFsCredentials const* const caller = QLActAs::Current();
  pid_t const pid = fork();
  if (pid == 0)
    BecomeDecoder(argv.data(), input_fd, write_end.get(), null_fd.get(), parent, limits, caller);
  if (pid < 0) {
    *error = std::string("cannot start the decoder: ") + strerror(errno);
    return false;
  }
  write_end.Close();
  null_fd.Close();

  std::vector<std::uint8_t> bytes;
  std::string read_error;
  ReadOutcome const outcome =
      ReadAnswer(read_end.get(), deadline, answer_limits, &bytes, &read_error);
  int status = 0;
  bool reaped = false;
  if (outcome == ReadOutcome::kDone) {
    Clock::duration left = deadline - Clock::now();
    reaped = ReapWithin(pid, std::max(left, Clock::duration::zero()), &status);
  }
  if (!reaped) KillAndReap(pid, &status);
  read_end.Close();

  switch (outcome) {
    case ReadOutcome::kTimedOut:
      *error = "no answer within " + std::to_string(limits.wall_clock_ms) + " ms";
      return false;
    case ReadOutcome::kRefused:
      *error = "refused answer: " + read_error;
      return false;
    case ReadOutcome::kFailed:
      *error = read_error;
      return false;
    case ReadOutcome::kDone:
      break;
  }
  if (!reaped) {
    *error = "did not end within " + std::to_string(limits.wall_clock_ms) + " ms";
    return false;
  }
  bool const clean_exit = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
  if (!clean_exit) {
    *error = DescribeStatus(status);
    return false;
  }
  QLMediaAnswer parsed;
  std::string parse_error;
  if (!DecodeMediaAnswer(bytes.data(), bytes.size(), answer_limits, &parsed, &parse_error)) {
    *error = "refused answer: " + parse_error;
    return false;
  }
  if (parsed.kind == QLMediaAnswerKind::kError) {
    // The text comes from a program reading hostile files: it stays on
    // one printable line.
    std::string text(parsed.payload.begin(), parsed.payload.end());
    for (char& c : text) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    }
    *error = "\"" + text + "\"";
    return false;
  }
  if (WEXITSTATUS(status) != 0) {
    *error = DescribeStatus(status);
    return false;
  }
  *answer = std::move(parsed);
  return true;
}
