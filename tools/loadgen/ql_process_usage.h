// CPU time and memory of another process, read from /proc, so the load
// generator can charge the daemon's own work to the requests it sent.
//
// Stateless free functions; any thread may call them. The parsers take the
// file texts so they can be checked without a live process.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_PROCESS_USAGE_H_
#define QUORLIN_TOOLS_LOADGEN_QL_PROCESS_USAGE_H_

#include <sys/types.h>

#include <cstdint>
#include <string>

struct QLProcessUsage {
  bool ok = false;
  double cpu_seconds = 0;  // user + system, all threads, also those that ended
  long peak_rss_kb = 0;    // VmHWM: the most resident memory so far
  long rss_kb = 0;         // VmRSS now
};

// utime + stime of a /proc/<pid>/stat text, in clock ticks. The command name
// in parentheses may hold spaces and parentheses; fields count from the last
// ')'. False when the text is not a stat line.
bool ParseProcStatTicks(std::string const& text, std::uint64_t* ticks);

// The "<key>:  <n> kB" value of a /proc/<pid>/status text.
bool ParseProcStatusKb(std::string const& text, std::string const& key, long* kb);

// Reads /proc/<pid>/stat and /proc/<pid>/status. ok is false when the
// process is gone or the files cannot be read.
QLProcessUsage ReadProcessUsage(pid_t pid);

// Nanoseconds on the CPU of the whole process, every thread included, also
// those that have ended: the quantity utime + stime of /proc/<pid>/stat
// counts, read through the process's CPU clock (clock_getcpuclockid) at
// nanosecond resolution instead of clock ticks, so one request's share can
// be taken as a difference. -1 when the process is gone.
std::int64_t ReadProcessCpuNanoseconds(pid_t pid);

#endif  // QUORLIN_TOOLS_LOADGEN_QL_PROCESS_USAGE_H_
