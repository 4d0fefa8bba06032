#include "ql_anchor_run.h"

#include <malloc.h>
#include <stdlib.h>
#include <time.h>

#include <iomanip>
#include <iostream>

#include "ql_latency_summary.h"

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
            << " [--width W] [--height H] [--full-screen] [--png-level -1..9] [--png-unfiltered]"
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
  for (int i = 1; i < argc; ++i) {
    std::string const arg = argv[i];
    bool const has_value = i + 1 < argc;
    if (arg == "--width" && has_value) {
      request.width = atoi(argv[++i]);
    } else if (arg == "--height" && has_value) {
      request.height = atoi(argv[++i]);
    } else if (arg == "--full-screen") {
      request.full_screen = true;
    } else if (arg == "--png-level" && has_value) {
      request.png_level = atoi(argv[++i]);
    } else if (arg == "--png-unfiltered" && unfiltered_png) {
      request.png_unfiltered = true;
    } else if (arg == "--rounds" && has_value) {
      rounds = atoi(argv[++i]);
    } else if (arg == "--format" && has_value) {
      key_values = std::string(argv[++i]) == "kv";
    } else if (arg == "--label" && has_value) {
      label = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(argv[0]);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty() || rounds < 1 || rounds > 1000 || request.width < 1 || request.height < 1 ||
      request.width > 16384 || request.height > 16384 || request.png_level < -1 ||
      request.png_level > 9) {
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
