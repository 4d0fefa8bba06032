// Load and fault tests of the real daemon: waves of mixed clients with
// faults beside idle connections, the descriptor limit, and a full disk.
// (SIGTERM under load is in quorlin_gd_process_test.cc.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
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

using Connections = std::vector<std::unique_ptr<LoadConnection>>;
int const kKinds = 9;

int Occurrences(std::string const& text, std::string const& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

// Waits until `read()` gave the same value three times, 100 ms apart, and it
// is at most `ceiling`; returns the last value.
int Settled(std::function<int()> const& read, int ceiling) {
  int last = read(), same = 1;
  for (int waited = 0; waited < (Sanitized() ? 30000 : 10000) && (same < 3 || last > ceiling);
       waited += 100) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int const now = read();
    same = now == last ? same + 1 : 1;
    last = now;
  }
  return last;
}

class LoadTest : public LiveDaemonTest {
 protected:
  // Starts the daemon, writes a source file of every kind it handles (the
  // last one stays missing), and keeps the reply each gets when asked alone.
  void StartServing(std::vector<std::string> const& arguments) {
    StartDaemon(arguments);
    if (HasFatalFailure()) return;
    using qltest::Format;
    struct {
      char const* name;
      std::string bytes;
    } const sources[kKinds] = {
        {"photo.jpg", Picture(Format::kJpeg, 640, 480, 0x1e8cd2)},
        {"drawing.png", Picture(Format::kPng, 400, 300, 0xc83c28)},
        {"anim.gif", Picture(Format::kGif, 320, 240, 0x14b43c)},
        {"scan.bmp", Picture(Format::kBmp, 200, 150, 0xdcc81e)},
        {"phone.wbmp", Picture(Format::kWbmp, 96, 72, 0)},
        {"song.mp3", Mp3WithCover(Picture(Format::kJpeg, 300, 300, 0x9628c8))},
        {"report.pdf", "%PDF-1.4\n"},
        {"archive.xyz", std::string("\0\1\2 unknown", 11)},
        {"gone.png", ""},
    };
    LoadConnection connection;
    for (int kind = 0; kind < kKinds; ++kind) {
      paths_[kind] = sources_.File(sources[kind].name);
      if (!sources[kind].bytes.empty()) {
        ASSERT_TRUE(WriteFileText(paths_[kind], sources[kind].bytes));
      }
      ASSERT_TRUE(connection.Ask(Request(kind, kind + 1), &references_[kind], ReplyTimeoutMs()));
      int width = 0, height = 0;
      ASSERT_NE(-1, CentreColour(references_[kind], &width, &height)) << sources[kind].name;
      EXPECT_TRUE(width <= 64 && height <= 48) << sources[kind].name;
    }
  }

  std::string Request(int kind, std::uint64_t id, std::string const& cache = "") const {
    return RequestBody(paths_[kind], 64, 48, id, cache.empty() ? cache_ : cache);
  }

  // One connection running `actions` mixed steps (hits, misses, invalid JSON,
  // missing keys, empty frames, side clients that vanish), each followed by
  // a valid request whose reply is checked. The first error, or "".
  std::string RunMixed(int seed, int actions) {
    LoadConnection connection;
    std::string reply;
    std::string const failure(1, '\0');
    for (int step = 0; step < actions; ++step) {
      int const kind = (seed + step) % kKinds;
      std::string body = Request(kind, static_cast<std::uint64_t>(kind) + 1);
      std::string expected = references_[kind];
      LoadConnection side;
      switch ((seed * 7 + step) % 8) {
        case 1:  // a miss: a resource the cache has never seen
          body = Request(kind, next_id_++);
          break;
        case 2:  // no reply; the request after it gets its own
          ++invalid_;
          connection.SendFrame("<request path=\"" + paths_[kind] + "\"/>");
          break;
        case 3:
          body = "{\"_path\":\"" + paths_[kind] + "\"}";
          expected = failure;
          break;
        case 4:
          body.clear();
          expected = failure;
          break;
        case 5:  // gone in the middle of the payload
          WriteAll(side.fd(), Frame(body).substr(0, 4 + body.size() / 2));
          break;
        case 6:  // gone before reading its reply
          WriteAll(side.fd(), Frame(Request(kind, next_id_++)));
          break;
        case 7:  // gone inside the length
          WriteAll(side.fd(), std::string(2, '\0'));
          break;
      }
      if (!connection.Ask(body, &reply, ReplyTimeoutMs())) return "no reply: " + body;
      if (reply != expected) return "wrong reply: " + body;
      ++answered_;
    }
    return "";
  }

  // A fresh thumbnail of every kind at once into `cache` (one connection
  // each, so the saves race); every reply must be the reference.
  void AskEveryKindAtOnce(std::string const& cache) {
    std::uint64_t const base = 2000000 + 100 * static_cast<std::uint64_t>(round_++);
    std::vector<std::thread> clients;
    std::vector<std::string> replies(kKinds);
    for (int kind = 0; kind < kKinds; ++kind) {
      clients.emplace_back([&, kind] {
        LoadConnection connection;
        connection.Ask(Request(kind, base + kind, cache), &replies[kind], ReplyTimeoutMs());
      });
    }
    for (std::thread& client : clients) client.join();
    for (int kind = 0; kind < kKinds; ++kind) EXPECT_EQ(references_[kind], replies[kind]) << kind;
  }

  // Every file in `cache` is the whole thumbnail of its resource (named
  // "<hex id>_..."); returns how many there are.
  int CheckCacheFiles(std::string const& cache) {
    int count = 0;
    for (std::string const& name : DirEntries(cache)) {
      char* end = nullptr;
      std::uint64_t const id = std::strtoull(name.c_str(), &end, 16);
      EXPECT_TRUE(end != name.c_str() && *end == '_' && id >= 2000000) << "stray file " << name;
      if (HasFailure()) return count;
      EXPECT_EQ(references_[id % 100], ReadFileText(cache + "/" + name)) << "truncated: " << name;
      ++count;
    }
    return count;
  }

  QLTempDir sources_;
  std::string const cache_ = sources_.File("cache");
  std::string paths_[kKinds];
  std::string references_[kKinds];
  std::atomic<std::uint64_t> next_id_{1000000};
  std::atomic<long> answered_{0}, invalid_{0};
  int round_ = 0;
};

// Each row is one wave on the same daemon: `idle` connections held open while
// `clients` connections run `actions` mixed steps each. After each wave the
// idle connections are still served, and descriptors and threads settle back
// to the counts the first wave left.
TEST_F(LoadTest, MixedWavesAreAnsweredAndLeaveNoDescriptorOrThreadBehind) {
  struct Row {
    int idle, clients, actions;
  } const rows[] = {
      {0, Scaled(60, 20, 200), Scaled(20, 10, 50)},
      {Scaled(300, 100, 1000), Scaled(20, 8, 50), Scaled(10, 5, 20)},
      {0, Scaled(40, 12, 200), Scaled(10, 5, 20)},
  };
  ASSERT_TRUE(
      RaiseDescriptorLimit(static_cast<rlim_t>(rows[1].idle * 2 + rows[0].clients * 4) + 512));
  StartServing({"-l", "1"});
  if (HasFatalFailure()) return;
  std::string const proc = "/proc/" + std::to_string(daemon_->pid());
  int idle_fds = 1 << 30, idle_threads = 1 << 30;
  long asked = 0;
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    Connections idle;
    for (int i = 0; i < rows[r].idle; ++i) idle.emplace_back(new LoadConnection());
    std::vector<std::string> errors(static_cast<size_t>(rows[r].clients));
    std::vector<std::thread> clients;
    for (int i = 0; i < rows[r].clients; ++i) {
      clients.emplace_back([&, i] { errors[i] = RunMixed(r * 1000 + i, rows[r].actions); });
    }
    for (std::thread& client : clients) client.join();
    for (std::string const& error : errors) EXPECT_EQ("", error);
    asked += rows[r].clients * rows[r].actions;
    EXPECT_EQ(asked, answered_.load()) << "valid requests without a correct reply";
    std::string reply;
    for (size_t i = 0; i < idle.size(); i += 10) {
      ASSERT_TRUE(idle[i]->Ask(Request(1, 2), &reply, ReplyTimeoutMs())) << "idle " << i;
      ASSERT_EQ(references_[1], reply) << "idle " << i;
    }
    idle.clear();
    int const fds = Settled([&] { return int(DirEntries(proc + "/fd").size()); }, idle_fds);
    int const threads =
        Settled([&] { return int(DirEntries(proc + "/task").size()); }, idle_threads);
    if (r > 0) {
      EXPECT_EQ(idle_fds, fds);
      EXPECT_EQ(idle_threads, threads);
    }
    idle_fds = fds;
    idle_threads = threads;
    if (HasFailure()) break;
  }
  for (std::string const& name : DirEntries(cache_)) {
    EXPECT_NE('.', name[0]) << "temporary file left: " << name;
    EXPECT_NE(-1, CentreColour(ReadFileText(cache_ + "/" + name))) << name;
  }
  StopServing();
  EXPECT_EQ(invalid_.load(), CountLogLines(daemon_->LogText(),
                                           "ERROR:", "(QLHandleGetResources) invalid JSON input."));
}

// At the descriptor limit, connections wait in the backlog without the
// accept loop spinning or flooding the log, and are served once descriptors
// are free again; each shortage is reported, not each failed accept.
TEST_F(LoadTest, DescriptorExhaustionNeitherSpinsNorLosesWaitingClients) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "UBSan's vptr check needs two descriptors of its own at the limit";
#endif
  StartDaemon({"-l", "2"});
  if (HasFatalFailure()) return;
  pid_t const pid = daemon_->pid();
  std::string const fds = "/proc/" + std::to_string(pid) + "/fd";
  int const idle_fds = Settled([&] { return int(DirEntries(fds).size()); }, 1 << 30);
  std::set<int> used;
  for (std::string const& fd : DirEntries(fds)) {
    used.insert(std::atoi(fd.c_str()));
  }
  ASSERT_FALSE(used.empty());
  // The lowest limit that leaves exactly two numbers free.
  int const holes = *used.rbegin() + 1 - static_cast<int>(used.size());
  struct rlimit limit, tight;
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, nullptr, &limit));
  tight = limit;
  tight.rlim_cur = static_cast<rlim_t>(*used.rbegin() + 1 + std::max(0, 2 - holes));
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &tight, nullptr));

  int const waiting = 6;
  Connections clients;
  for (int i = 0; i < 2 + waiting; ++i) clients.emplace_back(new LoadConnection());
  ASSERT_TRUE(WaitUntil([&] { return int(DirEntries(fds).size()) >= idle_fds + 2; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  size_t const log_before = daemon_->LogText().size();
  double const cpu_before = ReadProcessUsage(pid).cpu_seconds;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // A spinning loop burns about one core: two seconds of CPU time here.
  EXPECT_LT(ReadProcessUsage(pid).cpu_seconds - cpu_before, 0.5) << "the accept loop spins";
  EXPECT_LT(Occurrences(daemon_->LogText().substr(log_before), "Wait for connection..."), 100);

  // Exactly the two accepted clients are answered; freeing their descriptors
  // lets the waiting ones in, and each of them gets its reply.
  std::string reply;
  for (auto& client : clients) client->SendFrame("{}");
  std::vector<LoadConnection*> answered;
  for (auto& client : clients) {
    if (client->ReadReply(&reply, 500)) answered.push_back(client.get());
  }
  ASSERT_EQ(2u, answered.size());
  for (LoadConnection* client : answered) client->Close();
  int served = 2;
  for (int round = 0; round < waiting && served < 2 + waiting; ++round) {
    for (auto& client : clients) {
      if (client->ok() && client->ReadReply(&reply, 300)) {
        EXPECT_EQ(std::string(1, '\0'), reply);
        client->Close();
        ++served;
      }
    }
  }
  EXPECT_EQ(2 + waiting, served) << "waiting clients were lost";
  int const reports = Occurrences(daemon_->LogText(), "Cannot accept a connection (");
  EXPECT_TRUE(reports >= 1 && reports <= 1 + waiting) << reports;
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &limit, nullptr));
  StopServing();
}

// A cache folder on a full tmpfs (no blocks, or no inodes): every request
// still gets the right thumbnail, and the cache never holds a truncated or
// temporary file, also when concurrent saves race for the last free pages.
TEST_F(LoadTest, FullDiskStillServesThumbnailsAndKeepsNoTruncatedFile) {
  StartServing({"-l", "2"});
  if (HasFatalFailure()) return;
  for (char const* options : {"size=256k", "size=1m,nr_inodes=32"}) {
    SCOPED_TRACE(options);
    bool const inodes = strstr(options, "nr_inodes") != nullptr;
    QLTempDir mount_point;
    if (mount("tmpfs", mount_point.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options)) {
      GTEST_SKIP() << "cannot mount a tmpfs (" << strerror(errno) << "); needs root";
    }
    struct Unmount {
      std::string path;
      ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } const unmount{mount_point.path()};
    std::string const cache = mount_point.File("cache");
    std::string const filler = mount_point.File("filler");
    ASSERT_EQ(0, mkdir(cache.c_str(), 0755));
    if (inodes) {
      int made = 0;
      while (made < 1000 && WriteFileText(mount_point.File(std::to_string(made)), "")) ++made;
      ASSERT_LT(made, 1000) << "the inode limit was not reached";
      AskEveryKindAtOnce(cache);
      EXPECT_EQ(0, CheckCacheFiles(cache));
      continue;
    }
    int const fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    std::string const block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
    for (long pages : {0L, 1L, 3L}) {  // from no room at all to room for a few
      SCOPED_TRACE("free pages " + std::to_string(pages));
      struct statvfs info;
      struct stat filled;
      ASSERT_EQ(0, statvfs(mount_point.path().c_str(), &info));
      ASSERT_EQ(0, stat(filler.c_str(), &filled));
      long const page = static_cast<long>(info.f_frsize);
      ASSERT_EQ(0, truncate(filler.c_str(),
                            filled.st_size + (static_cast<long>(info.f_bavail) - pages) * page));
      AskEveryKindAtOnce(cache);
      int const cached = CheckCacheFiles(cache);
      EXPECT_TRUE(pages > 0 || cached == 0) << "nothing fits on a full disk";
    }
    ASSERT_EQ(0, unlink(filler.c_str()));
    int const before = CheckCacheFiles(cache);
    AskEveryKindAtOnce(cache);
    EXPECT_GT(CheckCacheFiles(cache), before) << "the cache works again once there is room";
  }
  EXPECT_TRUE(daemon_->running());
}

}  // namespace
}  // namespace load
