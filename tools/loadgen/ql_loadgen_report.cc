#include "ql_loadgen_report.h"

#include <iomanip>
#include <map>

#include "ql_latency_summary.h"

namespace {

std::string BaseName(std::string const& path) {
  std::size_t const slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Writer {
 public:
  Writer(std::ostream& out, std::string prefix, bool key_values)
      : out_(out), prefix_(std::move(prefix)), key_values_(key_values) {}
  void Put(std::string const& key, double value, char const* unit) {
    if (key_values_) {
      out_ << prefix_ << key << '=' << std::fixed << std::setprecision(4) << value << '\n';
    } else {
      out_ << "  " << std::left << std::setw(28) << key << std::fixed << std::setprecision(3)
           << value << (unit[0] ? " " : "") << unit << '\n';
    }
  }

 private:
  std::ostream& out_;
  std::string prefix_;
  bool key_values_;
};

}  // namespace

void QLPhaseReport::Add(QLLoadPhaseResult const& round) {
  samples.insert(samples.end(), round.samples.begin(), round.samples.end());
  wall_seconds += round.wall_seconds;
  if (round.daemon_cpu_seconds >= 0) {
    daemon_cpu_seconds =
        (daemon_cpu_seconds < 0 ? 0 : daemon_cpu_seconds) + round.daemon_cpu_seconds;
  }
  if (round.daemon_peak_rss_kb > daemon_peak_rss_kb) daemon_peak_rss_kb = round.daemon_peak_rss_kb;
}

std::size_t QLPhaseReport::Failed() const {
  std::size_t failed = 0;
  for (QLRequestSample const& sample : samples) failed += sample.kind != kReplyPicture ? 1 : 0;
  return failed;
}

void WritePhaseReport(QLPhaseReport const& report, std::vector<std::string> const& files,
                      std::string const& label, bool key_values, std::ostream& out) {
  std::size_t ok = 0;
  std::vector<double> latencies;
  for (QLRequestSample const& sample : report.samples) {
    if (sample.kind != kReplyPicture) continue;
    ++ok;
    latencies.push_back(sample.latency_ms);
  }
  QLLatencySummary const summary(latencies);
  std::size_t const requests = report.samples.size();

  if (!key_values) out << report.phase << " (" << requests << " requests)\n";
  Writer put(out, label + "." + report.phase + ".", key_values);
  put.Put("requests", static_cast<double>(requests), "");
  put.Put("ok", static_cast<double>(ok), "");
  put.Put("failed", static_cast<double>(requests - ok), "");
  put.Put("wall_s", report.wall_seconds, "s");
  put.Put("per_s", report.wall_seconds > 0 ? ok / report.wall_seconds : 0, "thumbnails/s");
  put.Put("p50_ms", summary.Percentile(50), "ms");
  put.Put("p90_ms", summary.Percentile(90), "ms");
  put.Put("p95_ms", summary.Percentile(95), "ms");
  put.Put("p99_ms", summary.Percentile(99), "ms");
  put.Put("max_ms", summary.Max(), "ms");
  put.Put("mean_ms", summary.Mean(), "ms");
  if (report.daemon_cpu_seconds >= 0 && requests > 0) {
    put.Put("cpu_ms_per_request", report.daemon_cpu_seconds * 1000.0 / requests, "ms");
  }
  if (report.daemon_peak_rss_kb >= 0) {
    put.Put("peak_rss_kb", static_cast<double>(report.daemon_peak_rss_kb), "kB");
  }

  // Per photo: the median over rounds of its latency and daemon CPU time.
  std::map<std::size_t, std::vector<double>> per_file_ms;
  std::map<std::size_t, std::vector<double>> per_file_cpu;
  for (QLRequestSample const& sample : report.samples) {
    if (sample.kind != kReplyPicture || sample.body_index >= files.size()) continue;
    per_file_ms[sample.body_index].push_back(sample.latency_ms);
    if (sample.daemon_cpu_ms >= 0) per_file_cpu[sample.body_index].push_back(sample.daemon_cpu_ms);
  }
  for (auto const& entry : per_file_ms) {
    std::string const key = "file." + BaseName(files[entry.first]);
    put.Put(key + ".ms", QLLatencySummary(entry.second).Median(), "ms");
    auto const cpu = per_file_cpu.find(entry.first);
    if (cpu != per_file_cpu.end()) {
      put.Put(key + ".cpu_ms", QLLatencySummary(cpu->second).Median(), "ms CPU");
    }
  }
}
