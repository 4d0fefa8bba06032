// The daemon at its descriptor limit: connections it cannot accept wait in
// the backlog without the accept loop spinning, and are served once
// descriptors are free again.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "process/load_harness.h"
#include "ql_process_usage.h"
#include "support/ql_socket_pair.h"
#include "support/ql_wait_until.h"

namespace load {
namespace {

int CountOccurrences(std::string const& text, std::string const& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

// The descriptor limit under which exactly `free_slots` numbers are unused
// (the kernel hands out the lowest free number below the limit).
int LimitLeavingFree(pid_t pid, int free_slots) {
  std::set<int> used;
  for (std::string const& fd : DirEntries("/proc/" + std::to_string(pid) + "/fd")) {
    used.insert(std::atoi(fd.c_str()));
  }
  int const max_used = used.empty() ? -1 : *used.rbegin();
  int const holes = max_used + 1 - static_cast<int>(used.size());
  int const limit = max_used + 1 + (free_slots > holes ? free_slots - holes : 0);
  return limit;
}

class LoadAcceptTest : public LiveDaemonTest {};

TEST_F(LoadAcceptTest, DescriptorExhaustionNeitherSpinsNorLosesWaitingClients) {
#if defined(__SANITIZE_ADDRESS__)
  // UBSan's vptr check tests whether memory is readable by writing it into a
  // pipe of its own. With no descriptor free the pipe cannot be made, the
  // check reports an "invalid vptr" for a sound object, and the build's
  // -fno-sanitize-recover ends the daemon. The plain and TSan builds run it.
  GTEST_SKIP() << "UBSan's vptr check needs two descriptors of its own at the limit";
#endif
  StartDaemon({"-l", "2"});
  if (HasFatalFailure()) return;
  pid_t const pid = daemon_->pid();
  int const idle_fds = SettledCount(CountDescriptors, pid, 1 << 30, 5000);
  ASSERT_GT(idle_fds, 0);

  // Room for exactly two more descriptors: two connections get accepted, the
  // rest stay in the backlog while accept fails with EMFILE.
  struct rlimit limit;
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, nullptr, &limit));
  struct rlimit tight = limit;
  tight.rlim_cur = static_cast<rlim_t>(LimitLeavingFree(pid, 2));
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &tight, nullptr)) << "cannot limit the daemon";

  int const waiting = 6;
  std::vector<std::unique_ptr<LoadConnection>> clients;
  for (int i = 0; i < 2 + waiting; ++i) {
    clients.emplace_back(new LoadConnection());
    ASSERT_TRUE(clients.back()->ok()) << "client " << i;
  }
  ASSERT_TRUE(WaitUntil([&] { return CountDescriptors(pid) >= idle_fds + 2; }, 5000));

  // Let the accept loop meet the limit, then measure it for two seconds.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::string const log_before = daemon_->LogText();
  double const cpu_before = ReadProcessUsage(pid).cpu_seconds;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  double const cpu_used = ReadProcessUsage(pid).cpu_seconds - cpu_before;
  std::string const log_after = daemon_->LogText();
  // A spinning loop burns about one core: two seconds of CPU time here.
  EXPECT_LT(cpu_used, 0.5) << "the accept loop spins at the descriptor limit";
  std::string const new_lines =
      log_after.size() > log_before.size() ? log_after.substr(log_before.size()) : std::string();
  EXPECT_LT(CountOccurrences(new_lines, "Wait for connection..."), 100)
      << "the log is flooded while connections wait";

  // The two accepted clients are answered; the waiting ones are not yet.
  std::string reply;
  std::vector<int> answered;
  for (int i = 0; i < static_cast<int>(clients.size()); ++i) {
    if (!clients[i]->SendFrame("{}")) continue;
  }
  for (int i = 0; i < static_cast<int>(clients.size()); ++i) {
    if (clients[i]->ReadReply(&reply, 500)) answered.push_back(i);
  }
  ASSERT_EQ(2u, answered.size()) << "exactly the accepted connections are served";

  // Freeing descriptors lets the waiting clients in, two at a time, and
  // every one of them gets its reply.
  for (int i : answered) clients[i]->Close();
  int served = 2;
  for (int round = 0; round < waiting && served < 2 + waiting; ++round) {
    for (int i = 0; i < static_cast<int>(clients.size()); ++i) {
      if (!clients[i]->ok()) continue;
      if (clients[i]->ReadReply(&reply, 300)) {
        EXPECT_EQ(std::string(1, '\0'), reply);
        clients[i]->Close();
        ++served;
      }
    }
  }
  EXPECT_EQ(2 + waiting, served) << "waiting clients were lost";

  // Each shortage is reported, once, not once per failed accept.
  int const reports = CountOccurrences(daemon_->LogText(), "Cannot accept a connection (");
  EXPECT_GE(reports, 1);
  EXPECT_LE(reports, 1 + waiting);

  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &limit, nullptr));
  StopServing();
}

}  // namespace
}  // namespace load
