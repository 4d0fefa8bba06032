#include "ql_anchor_run.h"

#include <malloc.h>
#include <time.h>

#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "base/ql_command_line_option.h"
#include "ql_client_options.h"
#include "ql_latency_summary.h"
#include "ql_loadgen_options.h"

namespace {

double Seconds(clockid_t clock) {
  struct timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string BaseName(std::string const& path) {
  std::size_t const slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Usage(char const* program) {
  std::cerr << "usage: " << program
            << " [--width W] [--height H] [--full-screen] [--png-level 0..9] [--png-unfiltered]"
               " [--rounds R] [--format text|kv] [--label NAME] PHOTO...\n";
  return 2;
}

}  // namespace

int RunAnchor(int argc, char** argv, std::string const& default_label, bool unfiltered_png,
              QLAnchorThumbnail const& thumbnail) {
  QLPipelineRequest request;
  int rounds = 1;
  bool key_values = false;
  std::string label = default_label;
  std::vector<std::string> files;
  std::vector<QLCommandLineOption> options = {
      NumberOption("width", 1, 16384, "1 to 16384",
                   [&request](std::uint64_t n) { request.width = static_cast<int>(n); }),
      NumberOption("height", 1, 16384, "1 to 16384",
                   [&request](std::uint64_t n) { request.height = static_cast<int>(n); }),
      FlagOption("full-screen", &request.full_screen),
      NumberOption("png-level", 0, 9, "0 to 9",
                   [&request](std::uint64_t n) { request.png_level = static_cast<int>(n); }),
      NumberOption("rounds", 1, 1000, "1 to 1000",
                   [&rounds](std::uint64_t n) { rounds = static_cast<int>(n); }),
      ReportFormatOption(&key_values),
      ToolTextOption("label", &label),
  };
  if (unfiltered_png) options.push_back(FlagOption("png-unfiltered", &request.png_unfiltered));
  std::string error;
  if (!ParseToolCommandLine(argc, argv, options, &files, &error) || files.empty()) {
    if (!error.empty()) std::cerr << argv[0] << ": " << error << "\n";
    return Usage(argv[0]);
  }

  // Keep freed memory in the process, as the daemon's allocator settings do:
  // otherwise every photo's buffers are returned to the kernel and faulted
  // in again, and the yardstick would mostly measure that. No block gets a
  // mapping of its own either (glibc unmaps those on free, however large the
  // thresholds), so a large progressive JPEG's coefficients stay warm too.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_MAX, 0);
  for (std::string const& file : files) thumbnail(file, request);

  std::vector<std::vector<double>> wall_ms(files.size());
  std::vector<std::vector<double>> cpu_ms(files.size());
  double total_wall = 0;
  double total_cpu = 0;
  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      double const wall_start = Seconds(CLOCK_MONOTONIC);
      double const cpu_start = Seconds(CLOCK_PROCESS_CPUTIME_ID);
      bool const ok = !thumbnail(files[i], request).empty();
      wall_ms[i].push_back((Seconds(CLOCK_MONOTONIC) - wall_start) * 1000);
      cpu_ms[i].push_back((Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start) * 1000);
      total_wall += wall_ms[i].back();
      total_cpu += cpu_ms[i].back();
      if (!ok) ++failures;
    }
  }

  std::cout << std::fixed << std::setprecision(4);
  for (std::size_t i = 0; i < files.size(); ++i) {
    double const wall = QLLatencySummary(wall_ms[i]).Median();
    double const cpu = QLLatencySummary(cpu_ms[i]).Median();
    std::string const name = BaseName(files[i]);
    if (key_values) {
      std::cout << label << ".file." << name << ".ms=" << wall << "\n"
                << label << ".file." << name << ".cpu_ms=" << cpu << "\n";
    } else {
      std::cout << name << ": " << wall << " ms wall, " << cpu << " ms CPU (median of " << rounds
                << ")\n";
    }
  }
  double const photos = static_cast<double>(files.size()) * rounds;
  if (key_values) {
    std::cout << label << ".total.wall_ms_per_photo=" << total_wall / photos << "\n"
              << label << ".total.cpu_ms_per_photo=" << total_cpu / photos << "\n"
              << label << ".total.failed=" << failures << "\n";
  } else {
    std::cout << "per photo: " << total_wall / photos << " ms wall, " << total_cpu / photos
              << " ms CPU; " << failures << " failed\n";
  }
  return failures > 0 ? 1 : 0;
}
