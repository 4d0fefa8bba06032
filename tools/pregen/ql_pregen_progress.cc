#include "ql_pregen_progress.h"

#include <cstdio>
#include <sstream>

namespace {

std::string Rate(std::uint64_t asked, double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f/s", seconds > 0 ? asked / seconds : 0.0);
  return text;
}

std::string Outcomes(QLPregenCounts const& counts) {
  std::ostringstream out;
  out << "made " << counts.made << ", already cached " << counts.cached << ", default picture "
      << counts.defaults << ", failed " << counts.failed;
  return out.str();
}

}  // namespace

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || seconds > 1e7) return "?";
  unsigned long const whole = static_cast<unsigned long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof(text), "%luh%02lum", whole / 3600, whole % 3600 / 60);
  } else if (whole >= 60) {
    std::snprintf(text, sizeof(text), "%lum%02lus", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof(text), "%lus", whole);
  }
  return text;
}

std::string FormatProgress(QLPregenCounts const& counts, std::uint64_t total, std::uint64_t asked,
                           double seconds) {
  std::uint64_t const done = counts.done();
  std::ostringstream out;
  out << done << "/" << total;
  if (total > 0) out << " (" << done * 100 / total << "%)";
  out << "  " << Rate(asked, seconds) << "  ETA ";
  if (done >= total) {
    out << "0s";
  } else if (asked == 0 || seconds <= 0) {
    out << "?";
  } else {
    out << FormatDuration(static_cast<double>(total - done) * seconds / asked);
  }
  // Short labels: the line must fit a terminal row to be redrawn in place.
  out << "  made " << counts.made << "  cached " << counts.cached << "  default " << counts.defaults
      << "  failed " << counts.failed;
  return out.str();
}

std::string FormatSummary(QLPregenCounts const& counts, std::uint64_t total, std::uint64_t asked,
                          double seconds, bool interrupted, bool daemon_lost) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof(elapsed), "%.1f s", seconds);
  std::ostringstream out;
  out << (interrupted   ? "interrupted: "
          : daemon_lost ? "daemon lost: "
                        : "done: ")
      << counts.done() << " of " << total << " requests in " << elapsed << " ("
      << Rate(asked, seconds) << "): " << Outcomes(counts);
  if (counts.done() < total) out << "; " << total - counts.done() << " not asked";
  return out.str();
}
