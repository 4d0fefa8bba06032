// Many concurrent clients against the real daemon: mixed traffic with
// faults on hundreds of connections at once, and requests still served
// while a crowd of idle connections is held open.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "process/load_harness.h"
#include "support/ql_socket_pair.h"
#include "support/ql_wait_until.h"

namespace load {
namespace {

class LoadTrafficTest : public LiveDaemonTest {
 protected:
  Tally RunWave(int connections, int requests, int seed_base) {
    return load::RunWave(corpus_, connections, requests, seed_base, &next_id_);
  }

  std::atomic<std::uint64_t> next_id_{1000000};
};

TEST_F(LoadTrafficTest, EveryValidRequestOfManyMixedConnectionsIsAnsweredCorrectly) {
  int const connections = Scaled(60, 20, 200);
  int const requests = Scaled(20, 10, 50);
  ASSERT_TRUE(RaiseDescriptorLimit(static_cast<rlim_t>(connections) * 4 + 256));
  StartServing();
  if (HasFatalFailure()) return;

  Tally const total = RunWave(connections, requests, 0);
  EXPECT_EQ("", total.first_error);
  EXPECT_EQ(total.expected, total.answered) << "valid requests left without a correct reply";
  EXPECT_GT(total.faults, 0);
  std::printf("[ figures  ] %d connections x %d actions: %ld answered, %ld faults\n", connections,
              requests, total.answered, total.faults);

  // The daemon is still whole: a fresh connection is served.
  LoadConnection after;
  std::string reply;
  ASSERT_TRUE(after.Ask(corpus_.CachedRequest(SourceKind::kJpeg), &reply, ReplyTimeoutMs()));
  EXPECT_EQ(corpus_.Reference(SourceKind::kJpeg), reply);
  after.Close();

  // Every cache file is a complete thumbnail, and no temporary file is left.
  for (std::string const& file : FilesIn(corpus_.cache_folder())) {
    int width = 0, height = 0, centre = 0;
    std::string const bytes = ReadFileText(file);
    EXPECT_TRUE(DecodePng(bytes, &width, &height, &centre)) << file;
    EXPECT_EQ(std::string::npos, file.find("/.")) << "temporary file left: " << file;
  }

  StopServing();
  // Each body that was not JSON was seen and refused once, none lost.
  EXPECT_EQ(total.invalid, CountLogLines(daemon_->LogText(),
                                         "ERROR:", "(QLHandleGetResources) invalid JSON input."));
}

TEST_F(LoadTrafficTest, RequestsAreServedWhileManyIdleConnectionsAreHeld) {
  int const idle_count = Scaled(300, 100, 1000);
  ASSERT_TRUE(RaiseDescriptorLimit(static_cast<rlim_t>(idle_count) * 2 + 512))
      << "cannot raise the descriptor limit for " << idle_count << " connections";
  StartServing();
  if (HasFatalFailure()) return;
  // The corpus connection's worker may still be ending.
  int const threads_before = SettledCount(CountThreads, daemon_->pid(), 1 << 30, 5000);

  std::vector<std::unique_ptr<LoadConnection>> idle;
  for (int i = 0; i < idle_count; ++i) {
    idle.emplace_back(new LoadConnection());
    ASSERT_TRUE(idle.back()->ok()) << "idle connection " << i;
  }
  // Each idle connection gets a worker of its own once accepted.
  EXPECT_TRUE(WaitUntil([&] { return CountThreads(daemon_->pid()) >= threads_before + idle_count; },
                        Sanitized() ? 60000 : 20000))
      << "threads: " << CountThreads(daemon_->pid());

  Tally const busy = RunWave(Scaled(20, 8, 50), Scaled(10, 5, 20), 7);
  EXPECT_EQ("", busy.first_error);
  EXPECT_EQ(busy.expected, busy.answered);

  // The idle connections were held, not dropped: each still gets answers.
  std::string reply;
  for (int i = 0; i < idle_count; i += (LongRun() ? 1 : 10)) {
    ASSERT_TRUE(idle[i]->Ask(corpus_.CachedRequest(SourceKind::kPng), &reply, ReplyTimeoutMs()))
        << "idle connection " << i;
    ASSERT_EQ(corpus_.Reference(SourceKind::kPng), reply) << "idle connection " << i;
  }

  // SIGTERM with all of them still open ends every one of them.
  StopServing();
  for (int i = 0; i < idle_count; ++i) {
    ASSERT_TRUE(SeesEndOfStream(idle[i]->fd(), 5000)) << "idle connection " << i << " left open";
  }
}

}  // namespace
}  // namespace load
