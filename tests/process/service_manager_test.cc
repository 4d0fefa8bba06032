// The daemon under a service manager and with the options for running it
// unprivileged and confined: readiness and status through $NOTIFY_SOCKET, a
// socket handed over by socket activation, the socket's mode and group, the
// peer-credential filter, the allowed roots, and --version.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "process/load_harness.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

// A local socket of `type` bound at `path` (listening when a stream), or -1.
int BoundSocket(std::string const& path, int type) {
  int const fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof(address.sun_path)) return -1;
  path.copy(address.sun_path, path.size());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      (type == SOCK_STREAM && listen(fd, 8) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// The next datagram on `fd` within `timeout_ms`, or "" when none came.
std::string NextDatagram(int fd, int timeout_ms) {
  struct pollfd ready = {fd, POLLIN, 0};
  if (poll(&ready, 1, timeout_ms) != 1) return "";
  char buffer[4096];
  ssize_t const length = recv(fd, buffer, sizeof(buffer), 0);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : "";
}

// Reads datagrams until one equals `wanted` (true) or `timeout_ms` passes;
// every one read is appended to *seen.
bool AwaitDatagram(int fd, std::string const& wanted, int timeout_ms, std::string* seen) {
  for (int waited = 0; waited < timeout_ms; waited += 100) {
    std::string const message = NextDatagram(fd, 100);
    if (!message.empty()) *seen += message + "\n";
    if (message == wanted) return true;
  }
  return false;
}

// A request for `path` under resource id `id`, with these folders.
std::string Body(std::string const& path, int id, std::string const& cache,
                 std::string const& defaults) {
  return "{\"_path\":\"" + path + "\",\"_width\":32,\"_height\":24,\"_full_screen\":false," +
         "\"_resource_id\":" + std::to_string(id) + ",\"_thumbnail_folder\":\"" + cache +
         "\",\"_default_thumbnail_folder\":\"" + defaults + "\"}";
}

class ServiceManagerTest : public LiveDaemonTest {};

TEST_F(ServiceManagerTest, ReportsReadyOnceServingThenStatusThenStopping) {
  QLTempDir scratch;
  int const notify = BoundSocket(scratch.File("notify"), SOCK_DGRAM);
  ASSERT_GE(notify, 0);
  QLDaemonExtras extras;
  extras.environment.push_back("NOTIFY_SOCKET=" + scratch.File("notify"));
  daemon_.reset(new LoadDaemon({"-l", "1"}, extras));

  std::string seen;
  ASSERT_TRUE(AwaitDatagram(notify, "READY=1", 10000, &seen)) << seen;
  // Ready means serving: the very first connection attempt must succeed.
  int const first = ConnectTo(kSocketPath);
  EXPECT_GE(first, 0) << "READY=1 came before the socket accepted";
  if (first >= 0) close(first);

  ASSERT_TRUE(
      WriteFileText(scratch.File("photo.jpg"), DrawPicture(SourceKind::kJpeg, 80, 60, 0x3060c0)));
  ASSERT_TRUE(WriteFileText(scratch.File("notes.txt"), "text"));
  std::string const cache = scratch.File("cache");
  LoadConnection connection;
  std::string reply;
  struct {
    std::string body;
    bool png;  // a thumbnail; otherwise the one-byte failure (or, for
               // invalid JSON, no reply at all)
  } const requests[] = {
      {Body(scratch.File("photo.jpg"), 1, cache, QL_DEFAULT_PICTURES_DIR), true},  // made
      {Body(scratch.File("photo.jpg"), 1, cache, QL_DEFAULT_PICTURES_DIR), true},  // cache hit
      {Body(scratch.File("notes.txt"), 2, cache, QL_DEFAULT_PICTURES_DIR), true},  // default
      {"{}", false},                                                               // failure
  };
  for (auto const& request : requests) {
    ASSERT_TRUE(connection.Ask(request.body, &reply, ReplyTimeoutMs())) << request.body;
    EXPECT_EQ(request.png, IsPng(reply)) << request.body;
  }
  ASSERT_TRUE(connection.SendFrame("not json"));  // a failure that gets no reply
  EXPECT_TRUE(AwaitDatagram(notify,
                            "STATUS=requests: 5, cache hits: 1, thumbnails made: 1, "
                            "default pictures: 1, failures: 2",
                            5000, &seen))
      << seen;

  ASSERT_TRUE(daemon_->process().Signal(SIGTERM));
  EXPECT_TRUE(AwaitDatagram(notify, "STOPPING=1", 5000, &seen)) << seen;
  int status = 0;
  ASSERT_TRUE(daemon_->process().WaitExit(StopTimeoutMs(), &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  close(notify);
}

TEST_F(ServiceManagerTest, ServesTheSocketItIsHandedAndBindsNone) {
  QLTempDir scratch;
  std::string const path = scratch.File("activated");
  unlink(kSocketPath);  // left by an earlier daemon: it must not reappear
  QLDaemonExtras extras;
  extras.listen_fd = BoundSocket(path, SOCK_STREAM);
  ASSERT_GE(extras.listen_fd, 0);
  daemon_.reset(new LoadDaemon({"-l", "1"}, extras));
  close(extras.listen_fd);

  int const fd = ConnectTo(path);
  ASSERT_GE(fd, 0);
  std::string reply;
  ASSERT_TRUE(WriteAll(fd, Frame("{}")));
  EXPECT_TRUE(ReadFrame(fd, &reply, ReplyTimeoutMs()));
  EXPECT_EQ(std::string(1, '\0'), reply);
  close(fd);
  EXPECT_NE(0, access(kSocketPath, F_OK)) << "the daemon bound a socket of its own";
  StopServing();
}

}  // namespace
}  // namespace load
