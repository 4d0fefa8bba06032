#include "ql_process_usage.h"

#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadSmallFile(std::string const& path) {
  std::ifstream in(path.c_str());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool ParseProcStatTicks(std::string const& text, std::uint64_t* ticks) {
  std::size_t const close = text.rfind(')');
  if (close == std::string::npos) return false;
  // After ") ": state(3) ppid(4) ... utime(14) stime(15).
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  std::uint64_t utime = 0;
  std::uint64_t stime = 0;
  for (int number = 3; number <= 15; ++number) {
    if (!(fields >> field)) return false;
    if (number == 14 || number == 15) {
      std::istringstream value(field);
      std::uint64_t parsed = 0;
      if (!(value >> parsed)) return false;
      (number == 14 ? utime : stime) = parsed;
    }
  }
  *ticks = utime + stime;
  return true;
}

bool ParseProcStatusKb(std::string const& text, std::string const& key, long* kb) {
  std::istringstream lines(text);
  std::string line;
  std::string const prefix = key + ":";
  while (std::getline(lines, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    std::istringstream value(line.substr(prefix.size()));
    long parsed = 0;
    std::string unit;
    if (!(value >> parsed >> unit) || unit != "kB") return false;
    *kb = parsed;
    return true;
  }
  return false;
}

QLProcessUsage ReadProcessUsage(pid_t pid) {
  QLProcessUsage usage;
  std::string const folder = "/proc/" + std::to_string(pid);
  std::uint64_t ticks = 0;
  if (!ParseProcStatTicks(ReadSmallFile(folder + "/stat"), &ticks)) return usage;
  std::string const status = ReadSmallFile(folder + "/status");
  if (!ParseProcStatusKb(status, "VmHWM", &usage.peak_rss_kb) ||
      !ParseProcStatusKb(status, "VmRSS", &usage.rss_kb)) {
    return usage;
  }
  long const ticks_per_second = sysconf(_SC_CLK_TCK);
  usage.cpu_seconds = static_cast<double>(ticks) / static_cast<double>(ticks_per_second);
  usage.ok = true;
  return usage;
}

std::int64_t ReadProcessCpuNanoseconds(pid_t pid) {
  clockid_t clock;
  struct timespec now;
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &now) != 0) return -1;
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
