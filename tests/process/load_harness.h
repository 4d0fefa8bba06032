// Shared pieces of the tests that run the real daemon binary on the real
// socket: the process, end-to-end, load, fault, signal and leak tests.
//
//  - Scale: short figures in CI, smaller still under sanitizers, the full
//    figures when QL_LONG_TESTS=1 is set in the environment.
//  - LoadDaemon: one daemon child in a scratch folder of its own (log and
//    working directory); the test stops it with a signal or the destructor
//    kills it. LiveDaemonTest: the fixture around one.
//  - Pictures drawn with libgd or written byte by byte, and checks on the
//    PNG replies.
//  - LoadCorpus: source files of every kind the daemon handles and the reply
//    each one must get.
//  - LoadConnection: one client connection speaking the framed protocol.
//  - /proc readers for the daemon's descriptors and threads.
//
// Everything here is used by one thread at a time, except LoadCorpus, which
// is read-only once built and may be read from any number of threads.
#ifndef QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_
#define QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_

#include <gtest/gtest.h>
#include <signal.h>
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
// Milliseconds the daemon may take to end after SIGTERM in this build.
int StopTimeoutMs();

// Raises this process's soft (and if needed hard) descriptor limit to at
// least `wanted`; a daemon started afterwards inherits it. False when the
// system refuses.
bool RaiseDescriptorLimit(rlim_t wanted);

// Names in `folder` but "." and "..", sorted; empty when unreadable.
std::vector<std::string> DirEntries(std::string const& folder);
// Paths of the regular files in `folder` (not recursive), sorted.
std::vector<std::string> FilesIn(std::string const& folder);

// Counts for a running process; 0 when unreadable.
int CountDescriptors(pid_t pid);
int CountThreads(pid_t pid);

// Waits until `read()` has given the same value three times in a row, 100 ms
// apart, and that value is at most `ceiling` (within `timeout_ms`); returns
// the last value read.
int SettledCount(int (*read)(pid_t), pid_t pid, int ceiling, int timeout_ms);

// Lines of `log` that start with `level_word` ("ERROR:", "WARN: ", "INFO: ")
// and end with `message`.
int CountLogLines(std::string const& log, std::string const& level_word,
                  std::string const& message);

// The daemon under test, started in a fresh scratch folder that is its
// working directory and its log folder (-o).
class LoadDaemon {
 public:
  // `binary`: the daemon program (a test build of it, say); `extras`: what a
  // service manager would add (environment, a passed socket).
  explicit LoadDaemon(std::vector<std::string> const& extra_arguments,
                      char const* binary = QL_DAEMON_BINARY,
                      QLDaemonExtras const& extras = QLDaemonExtras());
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

// A picture of `kind` (JPEG, PNG, GIF, BMP or WBMP) all of `colour`
// (0xRRGGBB), from the sample-file factory. Empty when libgd fails.
std::string DrawPicture(SourceKind kind, int width, int height, int colour);
// An MP3 file: an ID3v2.3 tag holding one front-cover APIC frame with
// `jpeg`, then a little MPEG audio.
std::string Mp3WithCover(std::string const& jpeg);

// PNG checks on reply bytes.
bool IsPng(std::string const& bytes);
// Decodes a PNG; false when it does not decode. `centre` is 0xRRGGBB.
bool DecodePng(std::string const& bytes, int* width, int* height, int* centre);
// Whether two 0xRRGGBB colours differ by at most 24 in every channel.
bool NearColour(int a, int b);

// A request body with every key the daemon reads.
std::string RequestBody(std::string const& path, int width, int height, std::uint64_t resource_id,
                        std::string const& cache_folder,
                        std::string const& default_folder = QL_DEFAULT_PICTURES_DIR);

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

// The fixture of every test that starts the daemon: skips when a daemon
// it did not start holds the pid file, and stops its own with SIGTERM.
class LiveDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts daemon_ (`binary`) with `arguments` and asserts that it serves.
  void StartDaemon(std::vector<std::string> const& arguments,
                   char const* binary = QL_DAEMON_BINARY);
  // StartDaemon, then builds corpus_ with its references.
  void StartServing(std::vector<std::string> const& arguments = {"-l", "1"});
  // Sends `signal_number` and asserts the ending the daemon promises: within
  // `timeout_ms` (0: StopTimeoutMs()), exit status 1.
  void StopServing(int signal_number = SIGTERM, int timeout_ms = 0);

  std::unique_ptr<LoadDaemon> daemon_;
  LoadCorpus corpus_;
};

// What one client thread saw.
struct Tally {
  long expected = 0;  // valid requests sent that must get a reply
  long answered = 0;  // of those, answered correctly
  long invalid = 0;   // bodies sent that are not JSON
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

}  // namespace load

#endif  // QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_
