// The daemon binary as a whole: the stop by each signal under load, on the
// real socket and pid file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

class QuorlinGdProcessTest : public LiveDaemonTest {};

// Each stopping signal while requests are in flight and idle connections
// are open: the daemon ends within two seconds with status 1, every reply it
// gave was right, it removes its pid file, closes every connection, and logs
// its stop once.
TEST_F(QuorlinGdProcessTest, StopSignalUnderLoadEndsPromptlyWithStatusOne) {
  int const busy_clients = Scaled(16, 6, 32);
  int const idle_clients = Scaled(200, 50, 200);
  long const limit_ms = Sanitized() ? 6000 : 2000;
  ASSERT_TRUE(RaiseDescriptorLimit(static_cast<rlim_t>(busy_clients + idle_clients) * 4 + 256));
  QLTempDir sources;
  std::string const photo = sources.File("photo.jpg");
  ASSERT_TRUE(WriteFileText(photo, Picture(qltest::Format::kJpeg, 640, 480, 0x1e8cd2)));
  std::atomic<std::uint64_t> next_id(1000);
  for (int n : {SIGTERM, SIGQUIT, SIGINT}) {
    SCOPED_TRACE("signal " + std::to_string(n));
    StartDaemon({"-l", "2"});
    if (HasFatalFailure()) return;
    std::string reference;
    ASSERT_TRUE(LoadConnection().Ask(RequestBody(photo, 64, 48, 1, sources.File("cache")),
                                     &reference, ReplyTimeoutMs()));
    ASSERT_TRUE(IsPng(reference));
    if (n == SIGTERM) {  // a second instance leaves with status 0 and the first serves on
      EXPECT_EQ(0, RunTool(QL_DAEMON_BINARY, {"-l", "2"}, sources.path(), 10000).status);
      EXPECT_EQ(daemon_->process().pid(), LivePidFromPidFile(kPidFile, kProcessName));
    }
    std::vector<std::unique_ptr<LoadConnection>> idle;
    for (int i = 0; i < idle_clients; ++i) idle.emplace_back(new LoadConnection());
    std::atomic<long> answered(0), wrong(0);
    std::vector<std::thread> busy;
    for (int i = 0; i < busy_clients; ++i) {
      busy.emplace_back([&, i] {  // asks until the daemon goes away
        LoadConnection connection;
        std::string reply;
        for (int step = i;; ++step) {
          std::uint64_t const id = step % 3 == 0 ? next_id++ : 1;  // misses and hits
          if (!connection.Ask(RequestBody(photo, 64, 48, id, sources.File("cache")), &reply,
                              ReplyTimeoutMs())) {
            return;
          }
          ++(reply == reference ? answered : wrong);
        }
      });
    }
    ASSERT_TRUE(WaitUntil([&] { return answered.load() >= 3 * busy_clients; },
                          Sanitized() ? 60000 : 20000));
    ASSERT_TRUE(daemon_->process().Signal(n));
    int status = 0;
    bool const ended = daemon_->process().WaitExit(static_cast<int>(limit_ms), &status);
    if (!ended) daemon_->process().WaitExit(20000, &status);
    for (std::thread& client : busy) client.join();
    ASSERT_TRUE(ended) << "no exit within " << limit_ms << " ms";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_EQ(0, wrong.load());
    EXPECT_NE(0, access(kPidFile, F_OK)) << "pid file left behind";
    for (auto const& client : idle) EXPECT_TRUE(SeesEndOfStream(client->fd(), 1000));

    EXPECT_EQ(1, CountLogLines(daemon_->LogText(), "INFO: ",
                               "quorlin_gd helper process stopping(" + std::to_string(n) + ")..."));
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace load
