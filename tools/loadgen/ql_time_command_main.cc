// ql_time_command: runs a command R times and prints the median wall time,
// the median CPU time (user + system of the child, from wait4) and the
// largest resident size, so other programs can be measured with the same
// clock the daemon is measured with.
//   ql_time_command [--rounds R] [--label NAME] [--format text|kv] -- COMMAND [ARG...]
// Exit status: 0, or 1 when any run failed (the figures are still printed).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "ql_latency_summary.h"

namespace {

double MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

double Ms(struct timeval const& value) {
  return static_cast<double>(value.tv_sec) * 1e3 + static_cast<double>(value.tv_usec) * 1e-3;
}

int Usage(char const* program) {
  std::cerr << "usage: " << program
            << " [--rounds 1..1000] [--label NAME] [--format text|kv] -- COMMAND [ARG...]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 1;
  std::string label = "command";
  bool key_values = false;
  int first = 1;
  for (; first < argc; ++first) {
    std::string const arg = argv[first];
    if (arg == "--") {
      ++first;
      break;
    }
    if (first + 1 >= argc) return Usage(argv[0]);
    if (arg == "--rounds") {
      rounds = atoi(argv[++first]);
    } else if (arg == "--label") {
      label = argv[++first];
    } else if (arg == "--format") {
      key_values = std::string(argv[++first]) == "kv";
    } else {
      return Usage(argv[0]);
    }
  }
  if (first >= argc || rounds < 1 || rounds > 1000) return Usage(argv[0]);

  std::vector<double> wall_ms;
  std::vector<double> cpu_ms;
  long max_rss_kb = 0;
  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    double const start = MonotonicMs();
    pid_t const child = fork();
    if (child < 0) return 1;
    if (child == 0) {
      // The measured program's own output is not part of the measurement.
      int const null = open("/dev/null", O_WRONLY);
      if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
      }
      execvp(argv[first], argv + first);
      _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) return 1;
    wall_ms.push_back(MonotonicMs() - start);
    cpu_ms.push_back(Ms(usage.ru_utime) + Ms(usage.ru_stime));
    if (usage.ru_maxrss > max_rss_kb) max_rss_kb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  double const wall = QLLatencySummary(wall_ms).Median();
  double const cpu = QLLatencySummary(cpu_ms).Median();
  std::cout << std::fixed << std::setprecision(4);
  if (key_values) {
    std::cout << label << ".ms=" << wall << "\n"
              << label << ".cpu_ms=" << cpu << "\n"
              << label << ".max_rss_kb=" << max_rss_kb << "\n"
              << label << ".failed=" << failures << "\n";
  } else {
    std::cout << label << ": " << wall << " ms wall, " << cpu << " ms CPU (median of " << rounds
              << "), " << max_rss_kb << " kB peak, " << failures << " failed\n";
  }
  return failures > 0 ? 1 : 0;
}
