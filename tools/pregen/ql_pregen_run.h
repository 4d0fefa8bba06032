// One quorlin_gd_pregen run: every (entry, size) pair becomes one request,
// taken from a shared queue by N worker threads, each with a connection of
// its own; the calling thread reports progress until they finish.
//
// Threads: RunPregen is called by one thread, which starts and joins the
// workers and alone writes the progress lines. Workers share the queue
// (guarded by the run's queue mutex), the outcome counters (atomics) and the
// message stream (guarded by the run's output mutex; on a terminal a message
// first clears the progress line). `stop_requested` is polled by every
// thread and must be safe to call from any of them (a signal flag).
#ifndef QUORLIN_TOOLS_PREGEN_QL_PREGEN_RUN_H_
#define QUORLIN_TOOLS_PREGEN_QL_PREGEN_RUN_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include "ql_pregen_entries.h"
#include "ql_pregen_options.h"
#include "ql_pregen_progress.h"

struct QLPregenResult {
  QLPregenCounts counts;
  std::uint64_t total = 0;  // entries (bad lines included) x sizes
  std::uint64_t asked = 0;  // requests sent to the daemon
  double seconds = 0;
  bool unreachable = false;  // the first connection failed: nothing was asked
  bool daemon_lost = false;  // not interrupted, yet requests were left unasked:
                             // the connections were lost for good
  bool interrupted = false;
};

enum QLPregenExit {
  kPregenOk = 0,
  kPregenSomeFailed = 1,
  kPregenUsage = 2,
  kPregenNoDaemon = 3,
  kPregenInterrupted = 130,  // the shell's figure for a run ended by SIGINT
};

// The exit status for `result`.
int PregenExitStatus(QLPregenResult const& result);

// Runs the requests. Messages (failures, bad lines, progress, the summary)
// go to `messages`: with `terminal` (`messages` is standard error and that
// is a terminal) a progress line cut to the terminal's width and redrawn at
// most four times a second, otherwise a plain line every
// `plain_interval_seconds`.
QLPregenResult RunPregen(QLPregenOptions const& options, std::vector<QLPregenEntry> const& entries,
                         std::function<bool()> const& stop_requested, std::ostream& messages,
                         bool terminal, double plain_interval_seconds = 5.0);

#endif  // QUORLIN_TOOLS_PREGEN_QL_PREGEN_RUN_H_
