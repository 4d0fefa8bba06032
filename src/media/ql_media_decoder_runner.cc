#include "media/ql_media_decoder_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "base/ql_fs_identity.h"
#include "base/ql_mutex.h"
#include "base/ql_unique_fd.h"

extern char** environ;

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

// The helper's malloc settings, for glibc to read at its start. A fresh
// process faults in every page it touches, and on a virtual machine the
// faults of a 12 MP HEIF decode (about 37,000 of 4 KiB) cost a third of it:
// transparent huge pages for the heap (the system's setting is usually
// "madvise"), no block in a mapping of its own, and no trim while it runs
// cut them to a few thousand. The helper exits after one file.
char const kHelperTunables[] =
    "GLIBC_TUNABLES=glibc.malloc.hugetlb=1:glibc.malloc.mmap_max=0:"
    "glibc.malloc.trim_threshold=1073741824";

// The daemon's environment with kHelperTunables in place of its own.
std::vector<std::string> HelperEnvironment() {
  std::vector<std::string> words;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (std::strncmp(*entry, "GLIBC_TUNABLES=", 15) != 0) words.push_back(*entry);
  }
  words.push_back(kHelperTunables);
  return words;
}

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
[[noreturn]] void BecomeDecoder(char* const* argv, char* const* envp, int input_fd, int answer_fd,
                                int null_fd, pid_t parent, QLChildLimits const& limits,
                                QLFsCredentials const* caller, bool prestarted) {
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
  // After the change of user, which clears it. Not for a helper started
  // ahead: the thread that forks it may end long before it is used; it
  // ends when its job socket closes with the daemon, and its CPU limit
  // ends it should the daemon die while it decodes.
  if (!prestarted) prctl(PR_SET_PDEATHSIG, SIGKILL);
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
  execve(argv[0], argv, envp);
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

// Reads the helper's answer, reaps it and judges its answer.
bool FinishRun(pid_t pid, QLUniqueFd& read_end, Clock::time_point deadline,
               QLChildLimits const& limits, QLMediaAnswerLimits const& answer_limits,
               QLMediaAnswer* answer, std::string* error) {
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
  if (parsed.kind == QLMediaAnswerKind::kError || parsed.kind == QLMediaAnswerKind::kRefused) {
    // The text comes from a program reading hostile files: it stays on
    // one printable line.
    std::string text(parsed.payload.begin(), parsed.payload.end());
    for (char& c : text) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    }
    *error = "\"" + text + "\"";
    answer->kind = parsed.kind;
    return false;
  }
  if (WEXITSTATUS(status) != 0) {
    *error = DescribeStatus(status);
    return false;
  }
  *answer = std::move(parsed);
  return true;
}

// A started helper: its process, the read end of its answer pipe and, for
// one started ahead, the socket its job goes through.
struct StartedHelper {
  pid_t pid = -1;
  QLUniqueFd answer;
  QLUniqueFd job;
  std::string program;
  QLChildLimits limits;
};

// Starts `words` (the program, then its arguments) on `input_fd`, or with
// `input_fd` < 0 ahead of its file: its standard input is then a socket it
// reads its job from (RunMediaDecoder's "wait" mode).
bool StartHelper(std::vector<std::string> words, int input_fd, QLChildLimits const& limits,
                 QLFsCredentials const* caller, StartedHelper* helper, std::string* error) {
  // Everything the child needs is made before fork: it may not allocate.
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  std::vector<std::string> environment = HelperEnvironment();
  std::vector<char*> envp;
  for (std::string& word : environment) envp.push_back(&word[0]);
  envp.push_back(nullptr);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + strerror(errno);
    return false;
  }
  QLUniqueFd read_end(ends[0]);
  QLUniqueFd write_end(ends[1]);
  QLUniqueFd job_end;
  QLUniqueFd child_job_end;
  if (input_fd < 0) {
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
      *error = std::string("cannot make a socket pair: ") + strerror(errno);
      return false;
    }
    job_end = QLUniqueFd(ends[0]);
    child_job_end = QLUniqueFd(ends[1]);
    input_fd = child_job_end.get();
  }
  QLUniqueFd null_fd(open("/dev/null", O_WRONLY | O_CLOEXEC));
  pid_t const parent = getpid();
  pid_t const pid = fork();
  if (pid == 0) {
    BecomeDecoder(argv.data(), envp.data(), input_fd, write_end.get(), null_fd.get(), parent,
                  limits, caller, job_end.valid());
  }
  if (pid < 0) {
    *error = std::string("cannot start the decoder: ") + strerror(errno);
    return false;
  }
  helper->pid = pid;
  helper->answer = std::move(read_end);
  helper->job = std::move(job_end);
  helper->program = words[0];
  helper->limits = limits;
  return true;
}

bool SameLimits(QLChildLimits const& a, QLChildLimits const& b) {
  return a.wall_clock_ms == b.wall_clock_ms && a.address_space_bytes == b.address_space_bytes &&
         a.cpu_seconds == b.cpu_seconds;
}

// Helpers started ahead, each waiting for one file. Shared by every request
// thread; a helper taken is used once, and its replacement is started as
// soon as it is taken, so that it loads while the file decodes.
class PrestartedHelpers {
 public:
  static PrestartedHelpers& Instance() {
    static PrestartedHelpers* helpers = new PrestartedHelpers();  // outlives every thread
    return *helpers;
  }

  // A waiting helper of `program` with `limits`; false when none is.
  // Helpers of other programs keep waiting; those of this program started
  // with other limits are ended.
  bool Take(std::string const& program, QLChildLimits const& limits, StartedHelper* helper)
      EXCLUDES(mutex_) {
    std::vector<pid_t> dropped;
    bool found = false;
    {
      QLMutexLock lock(&mutex_);
      std::vector<StartedHelper> kept;
      for (StartedHelper& waiting : idle_) {
        if (found || waiting.program != program) {
          kept.push_back(std::move(waiting));
          continue;
        }
        int status = 0;
        // One that ended while it waited (it could not start) is reaped now.
        if (waitpid(waiting.pid, &status, WNOHANG) != 0) continue;
        if (SameLimits(waiting.limits, limits)) {
          *helper = std::move(waiting);
          found = true;
        } else {
          dropped.push_back(waiting.pid);
        }
      }
      idle_ = std::move(kept);
    }
    for (pid_t old : dropped) KillAndReap(old, nullptr);
    return found;
  }

  // Starts helpers of `program` until `count` of them wait.
  void Fill(std::string const& program, QLChildLimits const& limits, unsigned count)
      EXCLUDES(mutex_) {
    unsigned wanted = 0;
    {
      QLMutexLock lock(&mutex_);
      unsigned have = starting_[program];
      for (StartedHelper const& waiting : idle_) have += waiting.program == program;
      wanted = have < count ? count - have : 0;
      starting_[program] += wanted;
    }
    for (unsigned i = 0; i < wanted; ++i) {
      StartedHelper helper;
      std::string ignored;
      bool const started = StartHelper({program, "wait"}, -1, limits, nullptr, &helper, &ignored);
      QLMutexLock lock(&mutex_);
      --starting_[program];
      if (started) idle_.push_back(std::move(helper));
    }
  }

 private:
  // Never held while a helper is started or ended: both take milliseconds.
  QLMutex mutex_;
  std::vector<StartedHelper> idle_ GUARDED_BY(mutex_);
  std::map<std::string, unsigned> starting_ GUARDED_BY(mutex_);  // per program
};

// Hands a helper started ahead its job: the arguments, NUL-separated, and
// the file's descriptor in one message.
bool SendJob(int socket, std::vector<std::string> const& arguments, int input_fd) {
  std::string words;
  for (std::string const& word : arguments) words += word + '\0';
  if (words.size() > kQLMaxHelperJobBytes) return false;
  struct iovec part = {&words[0], words.size()};
  union {
    char buffer[CMSG_SPACE(sizeof(int))];
    struct cmsghdr align;
  } control;
  std::memset(&control, 0, sizeof control);
  struct msghdr message = {};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control.buffer;
  message.msg_controllen = sizeof control.buffer;
  struct cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &input_fd, sizeof(int));
  ssize_t sent;
  do {
    sent = sendmsg(socket, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(words.size());
}

}  // namespace

bool RunMediaDecoder(std::string const& program, std::vector<std::string> const& arguments,
                     int input_fd, QLChildLimits const& limits,
                     QLMediaAnswerLimits const& answer_limits, QLMediaAnswer* answer,
                     std::string* error, unsigned prestarted) {
  QLFsCredentials const* const caller = QLActAs::Current();
  // A helper started ahead runs with the daemon's own rights: for a caller
  // the helper is started per file, becoming the caller before it execs.
  bool const ahead = prestarted > 0 && caller == nullptr;
  StartedHelper helper;
  Clock::time_point deadline;
  if (ahead && PrestartedHelpers::Instance().Take(program, limits, &helper)) {
    deadline = Clock::now() + std::chrono::milliseconds(limits.wall_clock_ms);
    bool const sent = SendJob(helper.job.get(), arguments, input_fd);
    helper.job.Close();
    if (!sent) {
      KillAndReap(helper.pid, nullptr);
      helper = StartedHelper();
    }
  }
  if (helper.pid < 0) {
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    deadline = Clock::now() + std::chrono::milliseconds(limits.wall_clock_ms);
    if (!StartHelper(words, input_fd, limits, caller, &helper, error)) return false;
  }
  // The next file's helper loads its libraries while this one decodes.
  if (ahead) PrestartedHelpers::Instance().Fill(program, limits, prestarted);
  return FinishRun(helper.pid, helper.answer, deadline, limits, answer_limits, answer, error);
}
