// ql_gd_pipeline: the bare libgd pipeline over photo files, timed per photo
// (wall and this process's CPU time), each photo `--rounds` times.
//   ql_gd_pipeline [--width W] [--height H] [--full-screen] [--png-level N]
//                  [--rounds R] [--format text|kv] [--label NAME] PHOTO...
#include <malloc.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "ql_gd_pipeline.h"
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
            << " [--width W] [--height H] [--full-screen] [--png-level -1..9] [--rounds R]"
               " [--format text|kv] [--label NAME] PHOTO...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QLPipelineRequest request;
  int rounds = 1;
  bool key_values = false;
  std::string label = "gd_pipeline";
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

  // Keep freed memory in the process, as a long-running server's allocator
  // ends up doing: otherwise every photo's canvas rows are returned to the
  // kernel and faulted in again, and the yardstick would mostly measure that.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);

  std::cout << std::fixed << std::setprecision(4);
  double total_wall = 0;
  double total_cpu = 0;
  int failures = 0;
  for (std::string const& file : files) {
    std::vector<double> wall_ms;
    std::vector<double> cpu_ms;
    for (int round = 0; round < rounds; ++round) {
      double const wall_start = Seconds(CLOCK_MONOTONIC);
      double const cpu_start = Seconds(CLOCK_PROCESS_CPUTIME_ID);
      std::vector<unsigned char> const png = PipelineThumbnail(file, request);
      wall_ms.push_back((Seconds(CLOCK_MONOTONIC) - wall_start) * 1000);
      cpu_ms.push_back((Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_start) * 1000);
      total_wall += wall_ms.back();
      total_cpu += cpu_ms.back();
      if (png.empty()) ++failures;
    }
    double const wall = QLLatencySummary(wall_ms).Median();
    double const cpu = QLLatencySummary(cpu_ms).Median();
    if (key_values) {
      std::cout << label << ".file." << BaseName(file) << ".ms=" << wall << "\n"
                << label << ".file." << BaseName(file) << ".cpu_ms=" << cpu << "\n";
    } else {
      std::cout << BaseName(file) << ": " << wall << " ms wall, " << cpu << " ms CPU (median of "
                << rounds << ")\n";
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
