// Shared pieces of the tests that run the real daemon binary on the real
// socket and pid file: the daemon child in a scratch folder of its own (its
// working directory and log folder), one client connection speaking the
// framed protocol, pictures and request bodies, and the fixture that skips
// when a daemon it did not start holds the pid file and stops its own.
//
// Figures are short in CI, smaller under sanitizers, and the full ones when
// QL_LONG_TESTS=1. A LoadDaemon and the fixture belong to the test's thread;
// each LoadConnection to the one thread that uses it.
#ifndef QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_
#define QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/ql_thumbnail_request.h"
#include "support/ql_daemon_launcher.h"
#include "support/ql_log_capture.h"
#include "support/ql_sample_files.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"

namespace load {

extern char const* const kSocketPath;
extern char const kPidFile[];
extern char const kProcessName[];

inline bool Sanitized() { return QL_LOAD_SANITIZED != 0; }
// The figure for this run: plain CI, sanitizer CI, QL_LONG_TESTS=1.
int Scaled(int plain, int sanitized, int long_run);
inline int ReplyTimeoutMs() { return Sanitized() ? 60000 : 20000; }
inline int StopTimeoutMs() { return Sanitized() ? 10000 : 2000; }
// Raises this process's descriptor limit to at least `wanted` (a daemon
// started afterwards inherits it); false when the system refuses.
bool RaiseDescriptorLimit(rlim_t wanted);
// Names in `folder` but "." and "..", sorted; empty when unreadable.
std::vector<std::string> DirEntries(std::string const& folder);
using ::CountLogLines;

class LoadDaemon {
 public:
  // Starts `binary` with "-o <scratch>" and `extra_arguments`; the
  // destructor kills a child still running.
  explicit LoadDaemon(std::vector<std::string> const& extra_arguments,
                      char const* binary = QL_DAEMON_BINARY,
                      QLDaemonExtras const& extras = QLDaemonExtras());
  LoadDaemon(LoadDaemon const&) = delete;
  LoadDaemon& operator=(LoadDaemon const&) = delete;

  // True when the child accepts on the socket and the pid file names it.
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

// One client connection to kSocketPath, closed by the destructor.
class LoadConnection {
 public:
  LoadConnection() : fd_(ConnectTo(kSocketPath)) {}
  ~LoadConnection() { Close(); }
  LoadConnection(LoadConnection const&) = delete;
  LoadConnection& operator=(LoadConnection const&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool SendFrame(std::string const& payload) { return ok() && WriteAll(fd_, Frame(payload)); }
  bool ReadReply(std::string* payload, int timeout_ms) {
    return ok() && ReadFrame(fd_, payload, timeout_ms);
  }
  bool Ask(std::string const& payload, std::string* reply, int timeout_ms) {
    return SendFrame(payload) && ReadReply(reply, timeout_ms);
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A connection to kSocketPath made as user and group `uid` (no account
// needed; the kernel records the ids of the process at connect()); -1 when
// it cannot be made. Root only; the process is root again afterwards.
int ConnectAs(uid_t uid);

// A picture of `format` all of `colour` (0xRRGGBB), from the sample-file
// factory.
std::string Picture(qltest::Format format, int width, int height, int colour);
// An MP3 whose ID3v2.3 tag holds `jpeg` as its front cover.
std::string Mp3WithCover(std::string const& jpeg);
inline bool IsPng(std::string const& bytes) {
  return bytes.size() > 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0;
}
// The centre colour (0xRRGGBB) of a PNG, or -1 when it does not decode; the
// size goes to `width` and `height` when given.
int CentreColour(std::string const& png, int* width = nullptr, int* height = nullptr);
// Whether two colours differ by at most 24 in every channel.
bool NearColour(int a, int b);
// A request body with every key the daemon reads.
inline std::string RequestBody(std::string const& path, std::uint32_t width, std::uint32_t height,
                               std::uint64_t resource_id, std::string const& cache_folder,
                               std::string const& default_folder = QL_DEFAULT_PICTURES_DIR,
                               bool full_screen = false) {
  return BuildRequestJson(
      {path, width, height, full_screen, resource_id, cache_folder, default_folder});
}

class LiveDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts daemon_ and asserts that it serves.
  void StartDaemon(std::vector<std::string> const& arguments,
                   char const* binary = QL_DAEMON_BINARY);
  // Sends `signal_number` and asserts an exit with status 1 within
  // `timeout_ms` (0: StopTimeoutMs()).
  void StopServing(int signal_number = SIGTERM, int timeout_ms = 0);

  std::unique_ptr<LoadDaemon> daemon_;
};

}  // namespace load

#endif  // QUORLIN_TESTS_PROCESS_LOAD_HARNESS_H_
