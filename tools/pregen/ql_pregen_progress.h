// The counts of a quorlin_gd_pregen run and the lines that report them: the
// progress line (done/total, requests per second, time left, the four
// outcomes) and the summary at the end.
//
// Plain data and pure formatters; any thread may call them.
#ifndef QUORLIN_TOOLS_PREGEN_QL_PREGEN_PROGRESS_H_
#define QUORLIN_TOOLS_PREGEN_QL_PREGEN_PROGRESS_H_

#include <cstdint>
#include <string>

struct QLPregenCounts {
  std::uint64_t made = 0;
  std::uint64_t cached = 0;    // already cached
  std::uint64_t defaults = 0;  // default picture
  std::uint64_t failed = 0;
  std::uint64_t done() const { return made + cached + defaults + failed; }
};

// "1h02m", "3m05s", "12s"; "?" for a negative or absurd figure.
std::string FormatDuration(double seconds);

// One progress line (no newline), with short outcome labels. `asked` of the done requests were
// asked of the daemon in `seconds`; the rate and the time left come from those (bad list lines are
// done at once and would flatter the rate).
std::string FormatProgress(QLPregenCounts const& counts, std::uint64_t total, std::uint64_t asked,
                           double seconds);

// The closing line (no newline), saying when the run was interrupted or the
// daemon went away and how many requests were never asked.
std::string FormatSummary(QLPregenCounts const& counts, std::uint64_t total, std::uint64_t asked,
                          double seconds, bool interrupted, bool daemon_lost);

#endif  // QUORLIN_TOOLS_PREGEN_QL_PREGEN_PROGRESS_H_
