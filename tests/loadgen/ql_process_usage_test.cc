#include "ql_process_usage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

double ProcessCpuSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BurnCpu(double seconds) {
  double const until = ProcessCpuSeconds() + seconds;
  volatile unsigned sink = 0;
  while (ProcessCpuSeconds() < until) {
    for (int i = 0; i < 10000; ++i) sink = sink * 31u + static_cast<unsigned>(i);
  }
}

// A stat line whose command name holds a space and parentheses, as
// "(sd-pam)" or a renamed thread can; utime 150 and stime 25.
std::string StatLine() {
  return "4242 (odd) name (x)) S 1 4242 4242 0 -1 4194304 100 0 0 0 150 25 0 0 20 0 3 0 "
         "12345 1000000 250 18446744073709551615";
}

TEST(ProcessUsageTest, StatTicksAreCountedFromTheLastParenthesis) {
  std::uint64_t ticks = 0;
  ASSERT_TRUE(ParseProcStatTicks(StatLine(), &ticks));
  EXPECT_EQ(175u, ticks);
}

TEST(ProcessUsageTest, StatTextsThatAreNotStatLinesAreRefused) {
  std::uint64_t ticks = 99;
  EXPECT_FALSE(ParseProcStatTicks("", &ticks));
  EXPECT_FALSE(ParseProcStatTicks("4242 no parenthesis S 1 2 3", &ticks));
  EXPECT_FALSE(ParseProcStatTicks("4242 (short) S 1 2 3 4 5 6 7 8 9 10", &ticks));
  EXPECT_FALSE(ParseProcStatTicks("4242 (x) S 1 1 1 0 -1 4 1 0 0 0 many 25 0", &ticks));
  EXPECT_EQ(99u, ticks);
}

TEST(ProcessUsageTest, StatusValuesNeedTheWholeKeyAndTheUnit) {
  std::string const status =
      "Name:\tquorlin_gd\nVmHWMX:\t1 kB\nVmPeak:\t  20000 kB\nVmHWM:\t    5120 kB\n"
      "VmRSS:\t 4096 kB\nThreads:\t3\nVmSwap:\t12\n";
  long kb = 0;
  ASSERT_TRUE(ParseProcStatusKb(status, "VmHWM", &kb));
  EXPECT_EQ(5120, kb);
  ASSERT_TRUE(ParseProcStatusKb(status, "VmRSS", &kb));
  EXPECT_EQ(4096, kb);
  EXPECT_FALSE(ParseProcStatusKb(status, "VmSwap", &kb));  // no unit
  EXPECT_FALSE(ParseProcStatusKb(status, "VmData", &kb));  // absent
  EXPECT_EQ(4096, kb);
}

TEST(ProcessUsageTest, CpuTimeOfALiveProcessGrowsWithItsWork) {
  QLProcessUsage const before = ReadProcessUsage(getpid());
  std::int64_t const live_before = ReadLiveThreadsCpuNanoseconds(getpid());
  ASSERT_TRUE(before.ok);
  ASSERT_GE(live_before, 0);
  BurnCpu(0.15);
  QLProcessUsage const after = ReadProcessUsage(getpid());
  std::int64_t const live_after = ReadLiveThreadsCpuNanoseconds(getpid());
  ASSERT_TRUE(after.ok);
  // Tick counts are coarse (usually 10 ms); the scheduler's are exact.
  EXPECT_GE(after.cpu_seconds - before.cpu_seconds, 0.1);
  EXPECT_GE(live_after - live_before, 140 * 1000 * 1000);
}

TEST(ProcessUsageTest, PeakMemoryCoversTouchedMemory) {
  QLProcessUsage const before = ReadProcessUsage(getpid());
  ASSERT_TRUE(before.ok);
  std::size_t const bytes = 64u * 1024u * 1024u;
  std::unique_ptr<char[]> block(new char[bytes]);
  std::memset(block.get(), 1, bytes);  // make it resident
  QLProcessUsage const after = ReadProcessUsage(getpid());
  ASSERT_TRUE(after.ok);
  EXPECT_GE(after.rss_kb, before.rss_kb + 60 * 1024);
  EXPECT_GE(after.peak_rss_kb, after.rss_kb);
  EXPECT_EQ(1, block[bytes - 1]);
}

TEST(ProcessUsageTest, AProcessThatHasEndedIsNotReadable) {
  pid_t const child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_FALSE(ReadProcessUsage(child).ok);
  EXPECT_EQ(-1, ReadLiveThreadsCpuNanoseconds(child));
}

}  // namespace
