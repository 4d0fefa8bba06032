// Load, fault and signal tests of the real daemon: waves of mixed clients
// with faults, a crowd of idle connections, what the daemon keeps after
// traffic, the descriptor limit, a full disk, and SIGTERM under load. Short
// figures in CI, smaller under sanitizers, the full ones with QL_LONG_TESTS=1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "process/load_harness.h"
#include "ql_process_usage.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"
#include "support/ql_wait_until.h"

namespace load {
namespace {

using Connections = std::vector<std::unique_ptr<LoadConnection>>;

int Occurrences(std::string const& text, std::string const& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

long MsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

class LoadTest : public LiveDaemonTest {
 protected:
  // Asks for a fresh thumbnail of every kind at once into `cache` (one
  // connection per kind, so the saves race); every reply must be the
  // reference. Remembers which resource each identifier was.
  void AskEveryKindAtOnce(std::string const& cache) {
    std::vector<std::thread> clients;
    std::vector<std::string> errors(9);
    for (int i = 0; i < 9; ++i) {
      SourceKind const kind = kAllSourceKinds[i];
      std::uint64_t const id = next_id_++;
      kind_of_id_[id] = kind;
      clients.emplace_back([this, kind, id, &cache, &errors, i] {
        LoadConnection connection;
        std::string reply;
        if (!connection.Ask(corpus_.Request(kind, id, cache), &reply, ReplyTimeoutMs()) ||
            reply != corpus_.Reference(kind)) {
          errors[i] = std::string("no or wrong reply for ") + SourceKindName(kind);
        }
      });
    }
    for (std::thread& client : clients) client.join();
    for (std::string const& error : errors) EXPECT_EQ("", error);
  }

  // Every file in `cache` is the complete thumbnail of its resource; returns
  // how many there are.
  int CheckCacheFiles(std::string const& cache) {
    int count = 0;
    for (std::string const& file : FilesIn(cache)) {
      std::string const name = file.substr(file.rfind('/') + 1);
      char* end = nullptr;
      auto const kind = kind_of_id_.find(std::strtoull(name.c_str(), &end, 16));
      if (end == name.c_str() || *end != '_' || kind == kind_of_id_.end()) {
        ADD_FAILURE() << "stray file in the cache: " << name;
        continue;
      }
      EXPECT_EQ(corpus_.Reference(kind->second), ReadFileText(file)) << "truncated: " << name;
      ++count;
    }
    return count;
  }

  std::atomic<std::uint64_t> next_id_{1000000};
  std::map<std::uint64_t, SourceKind> kind_of_id_;
};

// Each row is one wave on the same daemon: `idle` connections held open while
// `clients` mixed connections run `actions` each (hits, misses, invalid JSON,
// missing keys, empty frames, clients vanishing mid-frame). The first row
// also brings up whatever the daemon keeps for good; after every later one,
// descriptors and threads are back to that idle count.
TEST_F(LoadTest, MixedWavesAreAnsweredAndLeaveNoDescriptorOrThreadBehind) {
  struct Row {
    int idle, clients, actions;
  } const rows[] = {
      {0, Scaled(60, 20, 200), Scaled(20, 10, 50)},
      {Scaled(300, 100, 1000), Scaled(20, 8, 50), Scaled(10, 5, 20)},
      {0, Scaled(40, 12, 200), Scaled(10, 5, 20)},
      {0, Scaled(40, 12, 200), Scaled(10, 5, 20)},
  };
  ASSERT_TRUE(
      RaiseDescriptorLimit(static_cast<rlim_t>(rows[1].idle * 2 + rows[0].clients * 4) + 512));
  StartServing();
  if (HasFatalFailure()) return;
  pid_t const pid = daemon_->pid();
  int const settle_ms = Sanitized() ? 30000 : 10000;
  int idle_fds = 0, idle_threads = 0;
  long invalid = 0;
  for (size_t r = 0; r < sizeof rows / sizeof rows[0]; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    int const threads_before = SettledCount(CountThreads, pid, 1 << 30, settle_ms);
    Connections idle;
    for (int i = 0; i < rows[r].idle; ++i) {
      idle.emplace_back(new LoadConnection());
      ASSERT_TRUE(idle.back()->ok()) << "idle connection " << i;
    }
    // Each idle connection gets a worker of its own once accepted.
    EXPECT_TRUE(WaitUntil([&] { return CountThreads(pid) >= threads_before + rows[r].idle; },
                          Sanitized() ? 60000 : 20000));
    Tally const tally =
        RunWave(corpus_, rows[r].clients, rows[r].actions, static_cast<int>(r) * 1000, &next_id_);
    EXPECT_EQ("", tally.first_error);
    EXPECT_EQ(tally.expected, tally.answered) << "valid requests left without a correct reply";
    invalid += tally.invalid;
    // The idle connections were held, not dropped.
    std::string reply;
    for (size_t i = 0; i < idle.size(); i += LongRun() ? 1 : 10) {
      ASSERT_TRUE(idle[i]->Ask(corpus_.CachedRequest(SourceKind::kPng), &reply, ReplyTimeoutMs()));
      ASSERT_EQ(corpus_.Reference(SourceKind::kPng), reply) << "idle connection " << i;
    }
    idle.clear();
    if (r == 0) {
      idle_fds = SettledCount(CountDescriptors, pid, 1 << 30, settle_ms);
      idle_threads = SettledCount(CountThreads, pid, 1 << 30, settle_ms);
    } else {
      EXPECT_EQ(idle_fds, SettledCount(CountDescriptors, pid, idle_fds, settle_ms));
      EXPECT_EQ(idle_threads, SettledCount(CountThreads, pid, idle_threads, settle_ms));
    }
    if (HasFailure()) break;
  }
  // Every cache file is a complete thumbnail, and no temporary file is left.
  for (std::string const& file : FilesIn(corpus_.cache_folder())) {
    int width = 0, height = 0, centre = 0;
    EXPECT_TRUE(DecodePng(ReadFileText(file), &width, &height, &centre)) << file;
    EXPECT_EQ(std::string::npos, file.find("/.")) << "temporary file left: " << file;
  }
  StopServing();
  // Each body that was not JSON was seen and refused once, none lost.
  EXPECT_EQ(invalid, CountLogLines(daemon_->LogText(),
                                   "ERROR:", "(QLHandleGetResources) invalid JSON input."));
}

// One client at a time on fresh connections and cache folders that come and
// go (several clients would make the allocator open arenas at random
// moments, a step that is not a leak).
TEST_F(LoadTest, ResidentMemoryStaysFlatAcrossManyRequests) {
  if (Sanitized()) GTEST_SKIP() << "sanitizer runtimes hold freed memory on purpose";
  int const warm_up = Scaled(1500, 0, 2000);
  int const measured = Scaled(2000, 0, 10000);
  StartServing();
  if (HasFatalFailure()) return;
  pid_t const pid = daemon_->pid();
  auto ask_many = [&](int requests) {
    for (int done = 0; done < requests;) {
      QLTempDir cache;
      LoadConnection connection;
      std::string reply;
      for (int i = 0; i < 50 && done < requests; ++i, ++done) {
        SourceKind const kind = kAllSourceKinds[done % 9];
        std::string const body = done % 2 == 0 ? corpus_.Request(kind, next_id_++, cache.path())
                                               : corpus_.CachedRequest(kind);
        ASSERT_TRUE(connection.Ask(body, &reply, ReplyTimeoutMs()));
        ASSERT_EQ(corpus_.Reference(kind), reply) << SourceKindName(kind);
      }
    }
  };
  ask_many(warm_up);
  if (HasFatalFailure()) return;
  int const idle_threads = SettledCount(CountThreads, pid, 1 << 30, 10000);
  long const before = ReadProcessUsage(pid).rss_kb;
  ASSERT_GT(before, 0);
  std::vector<long> samples;
  for (int step = 0; step < 4; ++step) {
    ask_many(measured / 4);
    if (HasFatalFailure()) return;
    SettledCount(CountThreads, pid, idle_threads, 10000);
    samples.push_back(ReadProcessUsage(pid).rss_kb);
  }
  // Single samples swing by a few per cent; a leak lifts every later one. The
  // short run also sees one-off arena steps (about 600 KiB) the long run
  // amortises.
  long const baseline = std::max(before, samples[0]);
  long const settled = std::min(samples[3], samples[2]);
  long const allowed = LongRun() ? baseline / 20 : std::max(baseline / 20, 1024L);
  EXPECT_LE(settled, baseline + allowed)
      << "resident KiB " << before << " then " << samples[0] << " " << samples[1] << " "
      << samples[2] << " " << samples[3];
}

// A 20 MP photo decodes into about 90 MB in the default mode. That memory
// stays resident for the next request, and once the daemon has been idle for
// its --memory-idle-ms it goes back: resident memory then within 3 MiB of
// the idle daemon's before the request (2 MiB the goal, 1 MiB for what a
// first request sets up for good: the worker's cached stack, the JPEG and
// PNG libraries' tables, the log's buffers).
TEST_F(LoadTest, DecodeMemoryStaysForTheNextRequestAndGoesBackWhenIdle) {
  if (Sanitized()) GTEST_SKIP() << "sanitizer runtimes hold freed memory on purpose";
  QLTempDir folder;
  std::string const photo = folder.File("photo.jpg");
  ASSERT_TRUE(WriteFileText(photo, DrawPicture(SourceKind::kJpeg, 5472, 3648, 0x3c78b4)));
  StartDaemon({"-l", "1", "--memory-idle-ms", "3000"});
  if (HasFatalFailure()) return;
  pid_t const pid = daemon_->pid();
  int const idle_threads = SettledCount(CountThreads, pid, 1 << 30, 10000);
  long const idle = ReadProcessUsage(pid).rss_kb;
  ASSERT_GT(idle, 0);
  {
    LoadConnection connection;
    std::string reply;
    ASSERT_TRUE(connection.Ask(RequestBody(photo, 160, 120, 1, folder.File("cache")), &reply,
                               ReplyTimeoutMs()));
    ASSERT_TRUE(IsPng(reply));
  }
  // The connection's worker has ended (glibc would give its heap back then),
  // and the idle delay has not yet passed.
  SettledCount(CountThreads, pid, idle_threads, 10000);
  long const kept = ReadProcessUsage(pid).rss_kb;
  EXPECT_GT(kept, idle + 40 * 1024) << "the decode memory went back before the idle delay";
  long const bound = idle + 3 * 1024;
  long settled = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        settled = ReadProcessUsage(pid).rss_kb;
        return settled <= bound;
      },
      10000))
      << "resident KiB idle " << idle << ", 10 s after the idle delay " << settled;
  StopServing();
}

// At the descriptor limit, connections wait in the backlog without the
// accept loop spinning or flooding the log, and are served once descriptors
// are free again.
TEST_F(LoadTest, DescriptorExhaustionNeitherSpinsNorLosesWaitingClients) {
#if defined(__SANITIZE_ADDRESS__)
  // UBSan's vptr check needs a pipe of its own; at the limit it reports a
  // sound object and ends the daemon. The plain and TSan builds run it.
  GTEST_SKIP() << "UBSan's vptr check needs two descriptors of its own at the limit";
#endif
  StartDaemon({"-l", "2"});
  if (HasFatalFailure()) return;
  pid_t const pid = daemon_->pid();
  int const idle_fds = SettledCount(CountDescriptors, pid, 1 << 30, 5000);
  // The lowest limit that leaves exactly two numbers free.
  std::set<int> used;
  for (std::string const& fd : DirEntries("/proc/" + std::to_string(pid) + "/fd")) {
    used.insert(std::atoi(fd.c_str()));
  }
  ASSERT_FALSE(used.empty());
  int const holes = *used.rbegin() + 1 - static_cast<int>(used.size());
  struct rlimit limit, tight;
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, nullptr, &limit));
  tight = limit;
  tight.rlim_cur = static_cast<rlim_t>(*used.rbegin() + 1 + std::max(0, 2 - holes));
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &tight, nullptr));

  int const waiting = 6;
  Connections clients;
  for (int i = 0; i < 2 + waiting; ++i) {
    clients.emplace_back(new LoadConnection());
    ASSERT_TRUE(clients.back()->ok()) << "client " << i;
  }
  ASSERT_TRUE(WaitUntil([&] { return CountDescriptors(pid) >= idle_fds + 2; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  size_t const log_before = daemon_->LogText().size();
  double const cpu_before = ReadProcessUsage(pid).cpu_seconds;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // A spinning loop burns about one core: two seconds of CPU time here.
  EXPECT_LT(ReadProcessUsage(pid).cpu_seconds - cpu_before, 0.5) << "the accept loop spins";
  std::string const log = daemon_->LogText();
  EXPECT_LT(Occurrences(log.substr(std::min(log_before, log.size())), "Wait for connection..."),
            100);

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
  // Each shortage is reported, not each failed accept.
  int const reports = Occurrences(daemon_->LogText(), "Cannot accept a connection (");
  EXPECT_GE(reports, 1);
  EXPECT_LE(reports, 1 + waiting);
  ASSERT_EQ(0, prlimit(pid, RLIMIT_NOFILE, &limit, nullptr));
  StopServing();
}

// A cache folder on a full tmpfs (no blocks, or no inodes): every request
// still gets the right thumbnail, and the cache never holds a truncated or
// temporary file, also when concurrent saves race for the last free page.
TEST_F(LoadTest, FullDiskStillServesThumbnailsAndKeepsNoTruncatedFile) {
  struct Row {
    char const* options;
    bool inodes;  // use up the inodes, not the blocks
  } const rows[] = {{"size=256k", false}, {"size=1m,nr_inodes=32", true}};
  StartServing({"-l", "2"});
  if (HasFatalFailure()) return;
  for (Row const& row : rows) {
    SCOPED_TRACE(row.options);
    QLTempDir mount_point;
    if (mount("tmpfs", mount_point.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, row.options)) {
      GTEST_SKIP() << "cannot mount a tmpfs (" << strerror(errno) << "); needs root";
    }
    struct Unmount {
      std::string path;
      ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } const unmount{mount_point.path()};
    std::string const cache = mount_point.File("cache");
    ASSERT_EQ(0, mkdir(cache.c_str(), 0755));
    int const rounds = Scaled(3, 1, 10);
    if (row.inodes) {
      int made = 0;
      while (made < 1000 && WriteFileText(mount_point.File(std::to_string(made)), "")) ++made;
      ASSERT_LT(made, 1000) << "the inode limit was not reached";
      for (int round = 0; round < rounds; ++round) AskEveryKindAtOnce(cache);
      EXPECT_EQ(0, CheckCacheFiles(cache));
      continue;
    }
    std::string const filler = mount_point.File("filler");
    int const fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    std::string const block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
    // From no room at all to room for a few thumbnails.
    for (long pages : {0L, 1L, 2L, 3L, 5L}) {
      SCOPED_TRACE("free pages " + std::to_string(pages));
      struct statvfs info;
      struct stat filled;
      ASSERT_EQ(0, statvfs(mount_point.path().c_str(), &info));
      ASSERT_EQ(0, stat(filler.c_str(), &filled));
      long const page = static_cast<long>(info.f_frsize);
      ASSERT_EQ(0, truncate(filler.c_str(),
                            filled.st_size + (static_cast<long>(info.f_bavail) - pages) * page));
      for (int round = 0; round < rounds; ++round) AskEveryKindAtOnce(cache);
      int const cached = CheckCacheFiles(cache);
      EXPECT_TRUE(pages > 0 || cached == 0) << "nothing fits on a full disk";
    }
    // With room again, the next misses are cached whole.
    ASSERT_EQ(0, unlink(filler.c_str()));
    int const before = CheckCacheFiles(cache);
    AskEveryKindAtOnce(cache);
    EXPECT_GT(CheckCacheFiles(cache), before) << "the cache works again once there is room";
  }
  EXPECT_TRUE(daemon_->running());
}

// SIGTERM while requests are in flight and idle connections are open, many
// times in a row: the daemon always ends within two seconds with status 1,
// leaves no pid file and closes every connection.
TEST_F(LoadTest, TermUnderLoadAlwaysExitsOneQuicklyWithoutPidFile) {
  int const rounds = Scaled(8, 3, 50);
  int const busy_clients = Scaled(16, 6, 32);
  int const idle_clients = Scaled(200, 50, 200);
  long const limit_ms = Sanitized() ? 6000 : 2000;
  ASSERT_TRUE(RaiseDescriptorLimit(static_cast<rlim_t>(busy_clients + idle_clients) * 4 + 256));
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // The first daemon makes the files and references; later ones find the
    // thumbnails it cached.
    if (round == 0) {
      StartServing({"-l", "2"});
    } else {
      StartDaemon({"-l", "2"});
    }
    if (HasFatalFailure()) return;
    Connections idle;
    for (int i = 0; i < idle_clients; ++i) idle.emplace_back(new LoadConnection());
    std::atomic<long> answered(0);
    std::vector<std::string> errors(static_cast<size_t>(busy_clients));
    std::vector<std::thread> busy;
    for (int i = 0; i < busy_clients; ++i) {
      busy.emplace_back([&, i] {
        // Asks until the daemon goes away; every reply it gets must be right.
        LoadConnection connection;
        std::string reply;
        for (int step = i;; ++step) {
          SourceKind const kind = kAllSourceKinds[step % 9];
          std::string const body = step % 3 == 0
                                       ? corpus_.Request(kind, next_id_++, corpus_.cache_folder())
                                       : corpus_.CachedRequest(kind);
          if (!connection.Ask(body, &reply, ReplyTimeoutMs())) return;
          if (reply != corpus_.Reference(kind)) {
            errors[i] = std::string("wrong reply for ") + SourceKindName(kind);
            return;
          }
          ++answered;
        }
      });
    }
    ASSERT_TRUE(WaitUntil([&] { return answered.load() >= 3 * busy_clients; },
                          Sanitized() ? 60000 : 20000));
    std::chrono::steady_clock::time_point const sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(daemon_->process().Signal(SIGTERM));
    int status = 0;
    bool const ended = daemon_->process().WaitExit(static_cast<int>(limit_ms), &status);
    long const ms = MsSince(sent);
    if (!ended) daemon_->process().WaitExit(20000, &status);
    for (std::thread& client : busy) client.join();
    ASSERT_TRUE(ended) << "no exit within " << limit_ms << " ms after SIGTERM";
    EXPECT_LT(ms, limit_ms);
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
}

}  // namespace
}  // namespace load
