// Turns the results of the load phases into the report ql_loadgen prints:
// human text or "label.phase.key=value" lines for scripts.
//
// Pure functions over finished results; any thread may call them.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_LOADGEN_REPORT_H_
#define QUORLIN_TOOLS_LOADGEN_QL_LOADGEN_REPORT_H_

#include <ostream>
#include <string>
#include <vector>

#include "ql_load_run.h"

// One phase (misses or hits), possibly merged from several rounds.
struct QLPhaseReport {
  std::string phase;                     // "miss" or "hit"
  std::vector<QLRequestSample> samples;  // all rounds
  double wall_seconds = 0;               // summed over rounds
  double daemon_cpu_seconds = -1;        // summed; -1: not measured
  long daemon_peak_rss_kb = -1;

  // Adds one round's result.
  void Add(QLLoadPhaseResult const& round);
  // Requests that got anything but a PNG.
  std::size_t Failed() const;
};

// `files` names the photos by body index, for the per-photo lines.
void WritePhaseReport(QLPhaseReport const& report, std::vector<std::string> const& files,
                      std::string const& label, bool key_values, std::ostream& out);

#endif  // QUORLIN_TOOLS_LOADGEN_QL_LOADGEN_REPORT_H_
