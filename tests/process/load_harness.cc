#include "process/load_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <gd.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "protocol/ql_socket_path.h"
#include "support/ql_wait_until.h"

namespace load {

char const* const kSocketPath = DefaultSocketPath();
char const kPidFile[] = "/var/run/quorlin_gd.pid";
char const kProcessName[] = "quorlin_gd";

int Scaled(int plain, int sanitized, int long_run) {
  char const* value = std::getenv("QL_LONG_TESTS");
  if (value != nullptr && std::strcmp(value, "1") == 0) return long_run;
  return Sanitized() ? sanitized : plain;
}

bool RaiseDescriptorLimit(rlim_t wanted) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur >= wanted) return true;
  limit.rlim_max = std::max(limit.rlim_max, wanted);  // needs privilege; we run as root
  limit.rlim_cur = wanted;
  return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

std::vector<std::string> DirEntries(std::string const& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(entry->d_name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

LoadDaemon::LoadDaemon(std::vector<std::string> const& extra_arguments, char const* binary,
                       QLDaemonExtras const& extras) {
  // Descriptors this test process inherited must not leak into the daemon:
  // they would skew its descriptor counts and limits.
  for (std::string const& name : DirEntries("/proc/self/fd")) {
    int const fd = std::atoi(name.c_str());
    int const flags = fd > 2 ? fcntl(fd, F_GETFD) : -1;
    if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
  std::vector<std::string> arguments = {"-o", scratch_.path()};
  arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
  process_.reset(new QLDaemonProcess(binary, arguments, scratch_.path(), extras));
}

bool LoadDaemon::WaitServing(std::string* why) {
  int const fd = ConnectWhenListening(kSocketPath, Sanitized() ? 30000 : 10000);
  if (fd < 0) {
    *why = "the daemon never accepted on " + std::string(kSocketPath);
    return false;
  }
  close(fd);
  pid_t owner = 0;
  WaitUntil([&] { return (owner = LivePidFromPidFile(kPidFile, kProcessName)) == pid(); }, 5000);
  *why = "the pid file names " + std::to_string(owner) + ", not our child " + std::to_string(pid());
  return owner == pid();
}

std::string LoadDaemon::LogText() const { return ReadFileText(scratch_.File("gd.log")); }

int ConnectAs(uid_t uid) {
  gid_t const group = uid;
  int fd = -1;
  if (setgroups(1, &group) == 0 && setegid(group) == 0 && seteuid(uid) == 0) {
    fd = ConnectTo(kSocketPath);
  }
  if (seteuid(0) != 0 || setegid(0) != 0 || setgroups(0, nullptr) != 0) abort();
  return fd;
}

std::string Picture(qltest::Format format, int width, int height, int colour) {
  qltest::Bytes const bytes = qltest::Solid(
      format, width, height, {(colour >> 16) & 0xff, (colour >> 8) & 0xff, colour & 0xff});
  return std::string(bytes.begin(), bytes.end());
}

std::string Mp3WithCover(std::string const& jpeg) {
  qltest::Bytes const file = qltest::Mp3File(
      3, {qltest::ApicFrame(3, "image/jpeg", qltest::Bytes(jpeg.begin(), jpeg.end()))});
  return std::string(file.begin(), file.end());
}

int CentreColour(std::string const& png, int* width, int* height) {
  if (!IsPng(png)) return -1;
  gdImagePtr image =
      gdImageCreateFromPngPtr(static_cast<int>(png.size()), const_cast<char*>(png.data()));
  if (!image) return -1;
  if (width) *width = gdImageSX(image);
  if (height) *height = gdImageSY(image);
  int const pixel = gdImageGetTrueColorPixel(image, gdImageSX(image) / 2, gdImageSY(image) / 2);
  gdImageDestroy(image);
  return (gdTrueColorGetRed(pixel) << 16) | (gdTrueColorGetGreen(pixel) << 8) |
         gdTrueColorGetBlue(pixel);
}

bool NearColour(int a, int b) {
  for (int shift = 0; shift <= 16; shift += 8) {
    if (a < 0 || b < 0 || std::abs(((a >> shift) & 0xff) - ((b >> shift) & 0xff)) > 24) {
      return false;
    }
  }
  return true;
}

void LiveDaemonTest::SetUp() {
  if (LivePidFromPidFile(kPidFile, kProcessName) != 0) {
    GTEST_SKIP() << "a quorlin_gd not started here is running";
  }
}

void LiveDaemonTest::TearDown() {
  if (!daemon_ || !daemon_->running()) return;
  daemon_->process().Signal(SIGTERM);
  int status = 0;
  EXPECT_TRUE(daemon_->process().WaitExit(StopTimeoutMs(), &status));
}

void LiveDaemonTest::StartDaemon(std::vector<std::string> const& arguments, char const* binary) {
  daemon_.reset();  // a daemon of an earlier round goes first
  daemon_.reset(new LoadDaemon(arguments, binary));
  std::string why;
  ASSERT_TRUE(daemon_->WaitServing(&why)) << why;
}

void LiveDaemonTest::StopServing(int signal_number, int timeout_ms) {
  ASSERT_TRUE(daemon_->process().Signal(signal_number));
  int status = 0;
  if (timeout_ms == 0) timeout_ms = StopTimeoutMs();
  ASSERT_TRUE(daemon_->process().WaitExit(timeout_ms, &status))
      << "no exit within " << timeout_ms << " ms";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(1, WEXITSTATUS(status));
}

}  // namespace load
