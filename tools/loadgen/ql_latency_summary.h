// Order statistics of a set of request latencies (or any samples).
//
// A value type: built once from its samples, then only read; any thread may
// read a summary it can see.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_LATENCY_SUMMARY_H_
#define QUORLIN_TOOLS_LOADGEN_QL_LATENCY_SUMMARY_H_

#include <cstddef>
#include <vector>

class QLLatencySummary {
 public:
  explicit QLLatencySummary(std::vector<double> samples);

  std::size_t count() const { return sorted_.size(); }
  // Nearest-rank percentile: the smallest sample with at least `percent` % of
  // the samples at or below it (percent in 0..100). 0 for an empty set.
  double Percentile(double percent) const;
  double Median() const { return Percentile(50); }
  double Mean() const;
  double Max() const { return sorted_.empty() ? 0 : sorted_.back(); }

 private:
  std::vector<double> sorted_;
};

#endif  // QUORLIN_TOOLS_LOADGEN_QL_LATENCY_SUMMARY_H_
