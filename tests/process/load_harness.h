// Shared pieces of the load, fault, signal and leak tests against the real
// daemon binary on the real socket.
//
//  - Scale: short figures in CI, smaller still under sanitizers, the full
//    figures when QL_LONG_TESTS=1 is set in the environment.
//  - LoadDaemon: one daemon child in a scratch folder of its own (log and
//    working directory); the test stops it with a signal or the destructor
//    kills it.
//  - LoadCorpus: source files of every kind the daemon handles, drawn here
//    with libgd or written byte by byte, and the reply each one must get.
//  - LoadConnection: one client connection speaking the framed protocol.
//  - /proc readers for the daemon's descriptors, threads, memory and CPU.
//
// Everything here is used by one thread at a time, except LoadCorpus, which
// is read-only once built and may be read from any number of threads.
#ifndef QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_
#define QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_

#include <sys/resource.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/ql_daemon_launcher.h"
#include "support/ql_temp_dir.h"

namespace load {

extern char const kSocketPath[];
extern char const kPidFile[];
extern char const kProcessName[];

// True when QL_LONG_TESTS=1: the full figures.
bool LongRun();
// True in an ASan or TSan build.
bool Sanitized();
// The figure for this run.
int Scaled(int plain_short, int sanitized_short, int long_run);
// Milliseconds a single reply may take in this build.
int ReplyTimeoutMs();

// Raises this process's soft (and if needed hard) descriptor limit to at
// least `wanted`; a daemon started afterwards inherits it. False when the
// system refuses.
bool RaiseDescriptorLimit(rlim_t wanted);

// Counts for a running process; -1 when unreadable.
int CountDescriptors(pid_t pid);
int CountThreads(pid_t pid);
long ResidentKiB(pid_t pid);
// The anonymous part (heap, stacks): where a leak lands. Resident pages of
// mapped library code come and go with the page cache.
long ResidentAnonymousKiB(pid_t pid);
long long CpuTicks(pid_t pid);  // user + system, in clock ticks

// Waits until `read()` has given the same value three times in a row, 100 ms
// apart, and that value is at most `ceiling` (within `timeout_ms`); returns
// the last value read.
int SettledCount(int (*read)(pid_t), pid_t pid, int ceiling, int timeout_ms);

// The daemon under test, started in a fresh scratch folder.
class LoadDaemon {
 public:
  explicit LoadDaemon(std::vector<std::string> const& extra_arguments);
  // Kills a child still running.
  ~LoadDaemon() = default;
  LoadDaemon(LoadDaemon const&) = delete;
  LoadDaemon& operator=(LoadDaemon const&) = delete;

  // True when the child accepts on the socket and the pid file names it;
  // otherwise `why` says what is wrong.
  bool WaitServing(std::string* why);
  pid_t pid() const { return process_->pid(); }
  bool running() const { return process_->running(); }
  QLDaemonProcess& process() { return *process_; }
  std::string const& folder() const { return scratch_.path(); }
  std::string LogText() const;

 private:
  QLTempDir scratch_;
  std::unique_ptr<QLDaemonProcess> process_;
};

// Whether a quorlin_gd started by someone else holds the pid file.
bool ForeignDaemonRunning();

// One client connection. Closed by the destructor.
class LoadConnection {
 public:
  LoadConnection();  // connects at once; ok() tells whether it worked
  ~LoadConnection();
  LoadConnection(LoadConnection const&) = delete;
  LoadConnection& operator=(LoadConnection const&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool SendFrame(std::string const& payload);
  bool SendBytes(std::string const& bytes);
  bool ReadReply(std::string* payload, int timeout_ms);
  // One request, one reply.
  bool Ask(std::string const& payload, std::string* reply, int timeout_ms);
  void Close();

 private:
  int fd_;
};

// The kinds of source file one request can name.
enum class SourceKind { kJpeg, kPng, kGif, kBmp, kWbmp, kMp3, kDocument, kUnknown, kMissing };
extern SourceKind const kAllSourceKinds[9];
char const* SourceKindName(SourceKind kind);

// Source files of every kind in a folder of their own, a cache folder, and
// for each kind the reply the daemon gave when asked alone. Build() asks the
// daemon once per kind on one connection, serially, and checks every
// reference reply on its own merits (a PNG no larger than the requested box,
// of the drawn colour where the source is a picture of ours).
class LoadCorpus {
 public:
  static const int kWidth = 64;
  static const int kHeight = 48;

  LoadCorpus();
  LoadCorpus(LoadCorpus const&) = delete;
  LoadCorpus& operator=(LoadCorpus const&) = delete;

  // Writes the files and asks for the references; false with `why` on error.
  bool Build(std::string* why);

  std::string const& cache_folder() const { return cache_folder_; }
  std::string const& source_folder() const { return sources_.path(); }
  std::string Path(SourceKind kind) const;
  // The request body for `kind` under `resource_id` into `cache_folder`.
  std::string Request(SourceKind kind, std::uint64_t resource_id,
                      std::string const& cache_folder) const;
  // The request of the reference for `kind` (a cache hit once Build ran).
  std::string CachedRequest(SourceKind kind) const;
  std::string const& Reference(SourceKind kind) const;

 private:
  QLTempDir sources_;
  std::string cache_folder_;
  std::vector<std::string> references_;
};

// What one client thread saw.
struct Tally {
  long expected = 0;  // valid requests sent that must get a reply
  long answered = 0;  // of those, answered correctly
  long faults = 0;    // vanishing clients and invalid bodies sent
  long invalid = 0;   // of those, bodies that are not JSON
  std::string first_error;
  void Fail(std::string const& what) {
    if (first_error.empty()) first_error = what;
  }
  void Add(Tally const& other);
};

// One client connection carrying `requests` mixed actions: cache hits,
// misses under fresh resource identifiers from `next_id`, every source
// kind, invalid JSON (no reply; the next request on the connection must
// still get its own reply), missing keys and empty frames (the one-byte
// failure reply), and, on side connections, clients that vanish in the
// length, mid-frame or before reading their reply. `seed` varies the mix.
// Stops early (with a failure in the tally) when the daemon stops answering.
void RunMixedConnection(LoadCorpus const& corpus, int seed, int requests,
                        std::atomic<std::uint64_t>* next_id, Tally* tally);

// Runs `connections` client threads at once, each one RunMixedConnection
// with seed `seed_base` + its index; returns the sum of their tallies.
Tally RunWave(LoadCorpus const& corpus, int connections, int requests, int seed_base,
              std::atomic<std::uint64_t>* next_id);

// PNG checks on reply bytes.
bool IsPng(std::string const& bytes);
// Decodes a PNG; false when it does not decode. `centre` is 0xRRGGBB.
bool DecodePng(std::string const& bytes, int* width, int* height, int* centre);

// Paths of the regular files in `folder` (not recursive), sorted.
std::vector<std::string> FilesIn(std::string const& folder);

}  // namespace load

#endif  // QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_
