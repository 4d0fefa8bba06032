// The daemon under a service manager and with the options for running it
// unprivileged and confined: readiness and status through $NOTIFY_SOCKET, a
// socket handed over by socket activation, the socket's mode and group, the
// peer-credential filter, and the allowed roots.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// Reads datagrams until one equals `wanted` (true) or `timeout_ms` passes;
// every one read is appended to *seen.
bool AwaitDatagram(int fd, std::string const& wanted, int timeout_ms, std::string* seen) {
  for (int waited = 0; waited < timeout_ms; waited += 100) {
    struct pollfd ready = {fd, POLLIN, 0};
    char buffer[4096];
    ssize_t const length = poll(&ready, 1, 100) == 1 ? recv(fd, buffer, sizeof buffer, 0) : 0;
    std::string const message(buffer, static_cast<size_t>(std::max<ssize_t>(length, 0)));
    if (!message.empty()) *seen += message + "\n";
    if (message == wanted) return true;
  }
  return false;
}

class ServiceManagerTest : public LiveDaemonTest {};

// Started with a socket handed over (socket activation) and $NOTIFY_SOCKET:
// the daemon serves that socket and binds none of its own, reports READY=1
// once serving, a STATUS line with its request counts, and STOPPING=1.
TEST_F(ServiceManagerTest, ServesTheHandedSocketAndReportsReadyStatusAndStopping) {
  QLTempDir scratch;
  int const notify = BoundSocket(scratch.File("notify"), SOCK_DGRAM);
  ASSERT_GE(notify, 0);
  unlink(kSocketPath);  // left by an earlier daemon: it must not reappear
  QLDaemonExtras extras;
  extras.environment.push_back("NOTIFY_SOCKET=" + scratch.File("notify"));
  extras.listen_fd = BoundSocket(scratch.File("activated"), SOCK_STREAM);
  ASSERT_GE(extras.listen_fd, 0);
  daemon_.reset(new LoadDaemon({"-l", "1"}, QL_DAEMON_BINARY, extras));
  close(extras.listen_fd);
  std::string seen;
  ASSERT_TRUE(AwaitDatagram(notify, "READY=1", 10000, &seen)) << seen;

  ASSERT_TRUE(
      WriteFileText(scratch.File("photo.jpg"), Picture(qltest::Format::kJpeg, 80, 60, 0x3060c0)));
  std::string const cache = scratch.File("cache");
  int const fd = ConnectTo(scratch.File("activated"));
  ASSERT_GE(fd, 0);
  std::string reply;
  ASSERT_TRUE(WriteAll(fd, Frame(RequestBody(scratch.File("photo.jpg"), 32, 24, 1, cache))) &&
              ReadFrame(fd, &reply, ReplyTimeoutMs()));
  EXPECT_TRUE(IsPng(reply));
  ASSERT_TRUE(WriteAll(fd, Frame("not json")));  // a failure that gets no reply
  EXPECT_TRUE(AwaitDatagram(notify,
                            "STATUS=requests: 2, cache hits: 0, thumbnails made: 1, "
                            "default pictures: 0, failures: 1",
                            5000, &seen))
      << seen;
  close(fd);
  EXPECT_NE(0, access(kSocketPath, F_OK)) << "the daemon bound a socket of its own";
  ASSERT_TRUE(daemon_->process().Signal(SIGTERM));
  EXPECT_TRUE(AwaitDatagram(notify, "STOPPING=1", 5000, &seen)) << seen;
  int status = 0;
  ASSERT_TRUE(daemon_->process().WaitExit(StopTimeoutMs(), &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  close(notify);
}

// Started with its own pid file, a socket mode and group and a peer filter:
// the socket and pid file are as asked, and a client under another uid is
// closed unanswered. (What an allowed caller can reach: hostile_peer_test.)
TEST_F(ServiceManagerTest, SocketModeGroupPidFileAndPeerCredentials) {
  struct group const* nogroup = getgrnam("nogroup");
  ASSERT_NE(nullptr, nogroup);
  QLTempDir scratch;
  unlink(kSocketPath);
  daemon_.reset(new LoadDaemon({"-l", "2", "--pid-file", scratch.File("q.pid"), "--socket-mode",
                                "0660", "--socket-group", "nogroup", "--allow-uid", "root"}));
  int const probe = ConnectWhenListening(kSocketPath, 10000);
  ASSERT_GE(probe, 0) << "not serving";
  close(probe);
  struct stat info;
  ASSERT_EQ(0, stat(kSocketPath, &info));
  EXPECT_EQ(0660u, info.st_mode & 07777);
  EXPECT_EQ(nogroup->gr_gid, info.st_gid);
  EXPECT_EQ(std::to_string(daemon_->pid()) + "\n", ReadFileText(scratch.File("q.pid")));
  EXPECT_NE(0, access(kPidFile, F_OK)) << "the default pid file was written";

  pid_t const child = fork();
  if (child == 0) {  // in the socket's group, not an allowed user
    if (setgid(nogroup->gr_gid) != 0 || setuid(65534) != 0) _exit(3);
    int const fd = ConnectTo(kSocketPath);
    if (fd < 0) _exit(2);
    WriteAll(fd, Frame("{}"));  // may already fail: the daemon has closed
    std::string reply;
    _exit(!ReadFrame(fd, &reply, 5000) && SeesEndOfStream(fd, 5000) ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "0: closed unanswered, 1: answered, 2: no connection, 3: no setuid; got " << status;
  EXPECT_EQ(1, CountLogLines(daemon_->LogText(), "ERROR:",
                             "Refused a connection from uid 65534 pid " + std::to_string(child) +
                                 ": not an allowed user or group."));
}

}  // namespace
}  // namespace load
