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
  daemon_.reset(new LoadDaemon({"-l", "1"}, QL_DAEMON_BINARY, extras));

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
  daemon_.reset(new LoadDaemon({"-l", "1"}, QL_DAEMON_BINARY, extras));
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

// The daemon as started for these options: its own pid file in a scratch
// folder instead of the default one.
class ServiceOptionsTest : public LiveDaemonTest {
 protected:
  void Start(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"-l", "2", "--pid-file", scratch_.File("q.pid")});
    daemon_.reset();  // a daemon of an earlier case goes first
    unlink(kSocketPath);
    daemon_.reset(new LoadDaemon(arguments));
    int const fd = ConnectWhenListening(kSocketPath, 10000);
    ASSERT_GE(fd, 0) << "not serving";
    close(fd);
  }
  QLTempDir scratch_;
};

TEST_F(ServiceOptionsTest, VersionAndHelpExitZeroTouchingNothing) {
  struct {
    char const* option;
    char const* printed;
  } const cases[] = {{"--version", "quorlin_gd 0.1"}, {"--help", "--allow-root DIR"}};
  for (auto const& c : cases) {
    unlink(kSocketPath);
    QLDaemonProcess run(QL_DAEMON_BINARY, {c.option, "--pid-file", scratch_.File("q.pid")},
                        scratch_.path());
    int status = -1;
    ASSERT_TRUE(run.WaitExit(5000, &status)) << c.option;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.option;
    EXPECT_NE(std::string::npos, ReadFileText(scratch_.File("stdout.txt")).find(c.printed))
        << c.option;
    EXPECT_NE(0, access(kSocketPath, F_OK)) << c.option << " made the socket";
    EXPECT_NE(0, access(scratch_.File("q.pid").c_str(), F_OK)) << c.option;
    EXPECT_NE(0, access(kPidFile, F_OK)) << c.option;
    EXPECT_NE(0, access(scratch_.File("gd.log").c_str(), F_OK)) << c.option << " opened the log";
  }
}

TEST_F(ServiceOptionsTest, SocketModeGroupPidFileAndPeerCredentials) {
  struct group const* nogroup = getgrnam("nogroup");
  ASSERT_NE(nullptr, nogroup);
  struct {
    std::vector<std::string> arguments;
    mode_t mode;
    gid_t group;
  } const cases[] = {
      {{"--socket-mode", "0660", "--socket-group", "nogroup"}, 0660, nogroup->gr_gid},
      {{"--socket-mode", "0666", "--allow-uid", "root"}, 0666, 0},
  };
  for (auto const& c : cases) {
    Start(c.arguments);
    if (HasFatalFailure()) return;
    struct stat info;
    ASSERT_EQ(0, stat(kSocketPath, &info));
    EXPECT_EQ(c.mode, info.st_mode & 07777);
    EXPECT_EQ(c.group, info.st_gid);
    EXPECT_EQ(std::to_string(daemon_->pid()) + "\n", ReadFileText(scratch_.File("q.pid")));
    EXPECT_NE(0, access(kPidFile, F_OK)) << "the default pid file was written";
  }

  // Under the last case only root is served: a client under another uid is
  // closed before any of its request is read; root still gets its reply.
  pid_t const child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
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
  LoadConnection root;
  std::string reply;
  EXPECT_TRUE(root.Ask("{}", &reply, ReplyTimeoutMs()));
  EXPECT_EQ(1, CountLogLines(daemon_->LogText(), "ERROR:",
                             "Refused a connection from uid 65534 pid " + std::to_string(child) +
                                 ": not an allowed user or group."));
}

TEST_F(ServiceOptionsTest, RequestsResolvingOutsideTheAllowedRootsAreRefused) {
  std::string const root = scratch_.File("root");
  std::string const outside = scratch_.File("outside");
  std::string const defaults = root + "/defaults";
  for (std::string const& folder : {root, outside, defaults}) {
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  }
  std::string const photo = DrawPicture(SourceKind::kJpeg, 80, 60, 0x3060c0);
  ASSERT_TRUE(WriteFileText(root + "/photo.jpg", photo));
  ASSERT_TRUE(WriteFileText(outside + "/photo.jpg", photo));
  for (char const* name : {"image.jpg", "audio.jpg", "video.jpg", "doc.jpg", "any_file.jpg"}) {
    ASSERT_TRUE(WriteFileText(defaults + "/" + name,
                              ReadFileText(std::string(QL_DEFAULT_PICTURES_DIR) + "/" + name)));
  }
  ASSERT_EQ(0, symlink((outside + "/photo.jpg").c_str(), (root + "/escape.jpg").c_str()));
  ASSERT_EQ(0, symlink(outside.c_str(), (root + "/out").c_str()));
  Start({"--allow-root", root});
  if (HasFatalFailure()) return;

  struct {
    std::string path, cache, defaults;
    bool served;
  } const cases[] = {
      {root + "/photo.jpg", root + "/cache", defaults, true},
      {root + "/notes.txt", root + "/cache", defaults, true},  // a default picture
      {root + "/escape.jpg", root + "/cache", defaults, false},
      {root + "/photo.jpg", root + "/../outside/cache", defaults, false},
      {root + "/photo.jpg", root + "/out/cache", defaults, false},
      {root + "/notes.txt", root + "/cache", root + "/out", false},
  };
  int refused = 0;
  int id = 0;
  LoadConnection connection;
  for (auto const& c : cases) {
    std::string reply;
    ASSERT_TRUE(connection.Ask(Body(c.path, ++id, c.cache, c.defaults), &reply, ReplyTimeoutMs()));
    EXPECT_EQ(c.served, IsPng(reply)) << c.path << " " << c.cache << " " << c.defaults;
    if (!c.served) {
      EXPECT_EQ(std::string(1, '\0'), reply);
      ++refused;
    }
  }
  EXPECT_EQ(refused, CountLogLines(daemon_->LogText(),
                                   "ERROR:", "is outside the allowed folders; refused."));
  EXPECT_NE(0, access((outside + "/cache").c_str(), F_OK)) << "a cache folder was made outside";
}

}  // namespace
}  // namespace load
