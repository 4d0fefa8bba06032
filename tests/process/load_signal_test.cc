// SIGTERM while the daemon is busy: many times in a row, with requests in
// flight and idle connections open, the daemon always ends within two
// seconds with status 1 and leaves no pid file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "process/load_harness.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"
#include "support/ql_wait_until.h"

namespace load {
namespace {

class LoadSignalTest : public LiveDaemonTest {};

// Name, state and kernel wait channel of every thread of `pid`.
std::string ThreadStates(pid_t pid) {
  std::string out;
  std::string const task = "/proc/" + std::to_string(pid) + "/task/";
  for (std::string const& thread : DirEntries(task)) {
    std::string const stat = ReadFileText(task + thread + "/stat");
    size_t const close = stat.rfind(')');
    out += thread + " " + (close == std::string::npos ? "?" : stat.substr(close + 2, 1)) + " " +
           ReadFileText(task + thread + "/wchan") + "\n";
  }
  return out.empty() ? "no /proc entry\n" : out;
}

std::string Tail(std::string const& text, size_t bytes) {
  return text.size() > bytes ? text.substr(text.size() - bytes) : text;
}

// One client that keeps asking until the daemon goes away. Every reply it
// does get must be the right one.
void AskUntilGone(LoadCorpus const& corpus, int seed, std::atomic<std::uint64_t>* next_id,
                  std::atomic<long>* answered, std::string* error) {
  LoadConnection connection;
  std::string reply;
  for (int step = 0;; ++step) {
    SourceKind const kind = kAllSourceKinds[(seed + step) % 9];
    bool const miss = (seed + step) % 3 == 0;
    std::string const body =
        miss ? corpus.Request(kind, next_id->fetch_add(1), corpus.cache_folder())
             : corpus.CachedRequest(kind);
    if (!connection.SendFrame(body) || !connection.ReadReply(&reply, ReplyTimeoutMs())) return;
    if (reply != corpus.Reference(kind)) {
      *error = std::string("wrong reply for ") + SourceKindName(kind);
      return;
    }
    ++*answered;
  }
}

TEST_F(LoadSignalTest, TermUnderLoadAlwaysExitsOneQuicklyWithoutPidFile) {
  int const rounds = Scaled(8, 3, 50);
  int const busy_clients = Scaled(16, 6, 32);
  int const idle_clients = Scaled(200, 50, 200);
  int const limit_ms = 2000;
  ASSERT_TRUE(RaiseDescriptorLimit(static_cast<rlim_t>(busy_clients + idle_clients) * 4 + 256));
  LoadCorpus corpus;
  long worst_ms = 0;

  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    LoadDaemon daemon({"-l", "2"});
    std::string why;
    ASSERT_TRUE(daemon.WaitServing(&why)) << why;
    // The files and references come from the first daemon; later rounds
    // find the thumbnails it cached.
    if (round == 0) {
      ASSERT_TRUE(corpus.Build(&why)) << why;
    }

    std::vector<std::unique_ptr<LoadConnection>> idle;
    for (int i = 0; i < idle_clients; ++i) idle.emplace_back(new LoadConnection());
    std::atomic<std::uint64_t> next_id(1000000 + 100000 * static_cast<std::uint64_t>(round));
    std::atomic<long> answered(0);
    std::vector<std::string> errors(static_cast<size_t>(busy_clients));
    std::vector<std::thread> busy;
    for (int i = 0; i < busy_clients; ++i) {
      busy.emplace_back(AskUntilGone, std::cref(corpus), i, &next_id, &answered, &errors[i]);
    }
    // Stop while requests are really in flight.
    ASSERT_TRUE(WaitUntil([&] { return answered.load() >= 3 * busy_clients; },
                          Sanitized() ? 60000 : 20000));

    std::chrono::steady_clock::time_point const sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(daemon.process().Signal(SIGTERM));
    int status = 0;
    bool const ended = daemon.process().WaitExit(limit_ms * (Sanitized() ? 3 : 1), &status);
    long const ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - sent)
                                          .count());
    worst_ms = std::max(worst_ms, ms);
    std::string stuck;
    if (!ended) {
      // Tell a slow stop from a hang, and show where the threads wait.
      stuck = ThreadStates(daemon.pid());
      bool const late = daemon.process().WaitExit(20000, &status);
      long const total = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - sent)
                                               .count());
      stuck +=
          late ? "ended after " + std::to_string(total) + " ms\n" : "still running 20 s later\n";
      stuck += "log tail:\n" + Tail(daemon.LogText(), 3000);
    }
    for (std::thread& client : busy) client.join();
    ASSERT_TRUE(ended) << "no exit within " << limit_ms << " ms after SIGTERM\n" << stuck;
    EXPECT_LT(ms, Sanitized() ? 3 * limit_ms : limit_ms);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_NE(0, access(kPidFile, F_OK)) << "pid file left behind";
    for (std::string const& error : errors) EXPECT_EQ("", error);
    for (size_t i = 0; i < idle.size(); ++i) {
      ASSERT_TRUE(idle[i]->ok());
      EXPECT_TRUE(SeesEndOfStream(idle[i]->fd(), 1000)) << "idle connection " << i;
    }
    if (HasFailure()) break;
  }
  std::printf("[ figures  ] %d rounds, %d busy + %d idle clients: slowest exit %ld ms\n", rounds,
              busy_clients, idle_clients, worst_ms);
}

}  // namespace
}  // namespace load
