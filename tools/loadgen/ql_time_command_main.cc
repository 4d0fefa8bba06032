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

#include "base/ql_command_line_option.h"
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
  QLCommandLineOption label_option;
  label_option.name = "label";
  label_option.takes_value = true;
  label_option.apply = [&label](char const* value) {
    label = value;
    return true;
  };
  QLCommandLineOption format = label_option;
  format.name = "format";
  format.expected = "'text' or 'kv'";
  format.apply = [&key_values](char const* value) {
    key_values = std::string(value) == "kv";
    return key_values || std::string(value) == "text";
  };
  std::vector<QLCommandLineOption> const options = {
      NumberOption("rounds", 1, 1000, "1 to 1000",
                   [&rounds](std::uint64_t n) { rounds = static_cast<int>(n); }),
      label_option, format};
  // The command and its arguments: the words after "--".
  std::vector<std::string> command;
  std::string error;
  if (!ParseCommandLine(argc, argv, options, QLCommandLineMode::kStopAtFirstError, &command,
                        &error) ||
      command.empty()) {
    if (!error.empty()) std::cerr << argv[0] << ": " << error << "\n";
    return Usage(argv[0]);
  }
  std::vector<char*> command_argv;
  for (std::string& word : command) command_argv.push_back(&word[0]);
  command_argv.push_back(nullptr);

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
      execvp(command_argv[0], command_argv.data());
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
