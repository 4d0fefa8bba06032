// Running the media decoder helper for one file: a child process per
// request, with limits, whose answer (media/ql_media_frame.h) is read
// back strictly.
//
// The child is made with fork and exec. When the request acts for a caller
// (base/ql_fs_identity.h), the child becomes that caller (groups, group and
// user) before it execs. Between fork and exec it only calls
// async-signal-safe functions (the daemon has many threads): it takes the
// file as standard input and the answer pipe as standard output, sends
// standard error to /dev/null, closes every other descriptor, clears the
// signal mask the daemon's threads run with, makes itself a process group,
// asks to be killed when its parent thread goes, offers itself first to the
// kernel's out-of-memory killer (oom_score_adj 1000), and sets its limits:
// address space (RLIMIT_AS), CPU time (RLIMIT_CPU) and no core file.
// The parent polls the pipe against a wall-clock deadline; at the deadline,
// or on an answer that breaks the limits, it kills the child's group with
// SIGKILL. The child is always reaped before the call returns (one that
// cannot be reaped within a second, stuck in the kernel, is left to a
// detached thread that waits for it), so no zombie stays behind.
//
// Contract: stateless; any thread may call RunMediaDecoder, several at once
// (every descriptor it makes is close-on-exec, so a concurrent child never
// inherits another run's pipe). The caller keeps `input_fd` open for the
// call and still owns it afterwards.
#ifndef QUORLIN_MEDIA_QL_MEDIA_DECODER_RUNNER_H_
#define QUORLIN_MEDIA_QL_MEDIA_DECODER_RUNNER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "media/ql_media_frame.h"

// The largest job a helper started ahead accepts.
constexpr std::size_t kQLMaxHelperJobBytes = 1024;

struct QLChildLimits {
  unsigned wall_clock_ms = 0;
  std::uint64_t address_space_bytes = 0;  // 0: no limit
  unsigned cpu_seconds = 0;               // 0: no limit
};

// Runs `program` with `arguments` (argv[1] onwards) on `input_fd`. True
// when the child exited with status 0 after writing one valid picture
// answer, which is then in `*answer`. Otherwise false, with `*error` saying
// what happened: the program could not start, it was killed by a signal
// (a crash, the CPU limit), it ran past the deadline, it answered with an
// error or refusal text (quoted; `answer->kind` then says which), or its
// answer was malformed, too large, cut short or followed by more bytes.
//
// `prestarted` > 0: the program knows the "wait" mode (argv[1] "wait": it
// reads one job, its arguments NUL-separated with the file's descriptor
// attached, from a socket on its standard input, at most
// kQLMaxHelperJobBytes), and up to `prestarted` helpers are kept started
// ahead, with these limits and the daemon's rights, each waiting for one
// file: loading the helper's libraries (about 160 of them with FFmpeg)
// takes tens of milliseconds. A helper started ahead is used for one file;
// its replacement is started as it is taken. Requests acting for a caller
// never use them. The deadline counts from the moment the job is handed
// over; everything else is as above.
bool RunMediaDecoder(std::string const& program, std::vector<std::string> const& arguments,
                     int input_fd, QLChildLimits const& limits,
                     QLMediaAnswerLimits const& answer_limits, QLMediaAnswer* answer,
                     std::string* error, unsigned prestarted = 0);

#endif  // QUORLIN_MEDIA_QL_MEDIA_DECODER_RUNNER_H_
