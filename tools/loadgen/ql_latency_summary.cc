#include "ql_latency_summary.h"

#include <algorithm>
#include <cmath>
#include <numeric>

QLLatencySummary::QLLatencySummary(std::vector<double> samples) : sorted_(std::move(samples)) {
  std::sort(sorted_.begin(), sorted_.end());
}

double QLLatencySummary::Percentile(double percent) const {
  if (sorted_.empty()) return 0;
  percent = std::min(std::max(percent, 0.0), 100.0);
  // Rank 1..n; rank 0 would only come from percent 0, which means the minimum.
  double const rank = std::ceil(percent / 100.0 * static_cast<double>(sorted_.size()));
  std::size_t const index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return sorted_[std::min(index, sorted_.size() - 1)];
}

double QLLatencySummary::Mean() const {
  if (sorted_.empty()) return 0;
  return std::accumulate(sorted_.begin(), sorted_.end(), 0.0) / static_cast<double>(sorted_.size());
}
