// The daemon binary as a whole: start-up, the single-instance lock, the log
// folder option and the stop by signal, on the real socket and pid file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/ql_daemon_launcher.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"

namespace {

char const kBinary[] = QL_DAEMON_BINARY;
char const kSocket[] = "/tmp/qlGDProcesssSocket";
char const kPidFile[] = "/var/run/quorlin_gd.pid";
char const kName[] = "quorlin_gd";

int CountLines(std::string const& text, std::string const& level_word, std::string const& message) {
  int count = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string const line = text.substr(start, end - start);
    if (line.compare(0, level_word.size(), level_word) == 0 && line.size() >= message.size() &&
        line.compare(line.size() - message.size(), message.size(), message) == 0) {
      ++count;
    }
    start = end + 1;
  }
  return count;
}

class QuorlinGdProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (LivePidFromPidFile(kPidFile, kName) != 0) {
      GTEST_SKIP() << "A quorlin_gd not started by this test is running (" << kPidFile
                   << "); not disturbing it.";
    }
  }

  // Starts the daemon in `working_dir` and waits until it accepts.
  std::unique_ptr<QLDaemonProcess> StartDaemon(std::vector<std::string> arguments,
                                               std::string const& working_dir) {
    std::unique_ptr<QLDaemonProcess> daemon(new QLDaemonProcess(kBinary, arguments, working_dir));
    int fd = ConnectWhenListening(kSocket, 5000);
    if (fd >= 0) close(fd);
    return daemon;
  }

  // Sends one frame and reads the reply's payload.
  static bool Ask(int fd, std::string const& request, std::string* reply) {
    return WriteAll(fd, Frame(request)) && ReadFrame(fd, reply, 5000);
  }

  QLTempDir dir_;
};

TEST_F(QuorlinGdProcessTest, ServesAFrameAndLocksWithItsPid) {
  std::unique_ptr<QLDaemonProcess> daemon = StartDaemon({"-o", dir_.path()}, dir_.path());
  int const fd = ConnectWhenListening(kSocket, 5000);
  ASSERT_GE(fd, 0);
  std::string reply;
  ASSERT_TRUE(Ask(fd, "{}", &reply));
  EXPECT_EQ(std::string(1, '\0'), reply) << "no thumbnail: the one-byte reply";
  close(fd);
  EXPECT_EQ(std::to_string(daemon->pid()) + "\n", ReadFileText(kPidFile));
  ASSERT_TRUE(daemon->Signal(SIGTERM));
  int status = 0;
  ASSERT_TRUE(daemon->WaitExit(5000, &status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}

TEST_F(QuorlinGdProcessTest, SecondInstanceExitsZeroAndLeavesThePidFile) {
  std::unique_ptr<QLDaemonProcess> first = StartDaemon({"-o", dir_.path()}, dir_.path());
  QLTempDir second_dir;
  QLDaemonProcess second(kBinary, {"-o", second_dir.path()}, second_dir.path());
  int status = -1;
  ASSERT_TRUE(second.WaitExit(5000, &status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ(1, CountLines(ReadFileText(second_dir.File("gd.log")),
                          "ERROR:", "Process quorlin_gd already running!"));
  EXPECT_EQ(std::to_string(first->pid()) + "\n", ReadFileText(kPidFile));
  int const fd = ConnectWhenListening(kSocket, 2000);
  EXPECT_GE(fd, 0) << "the first instance still serves";
  if (fd >= 0) close(fd);
  ASSERT_TRUE(first->Signal(SIGTERM));
  ASSERT_TRUE(first->WaitExit(5000, &status));
}

TEST_F(QuorlinGdProcessTest, LogLandsInWorkingDirOrOptionFolderAtTheGivenLevel) {
  QLTempDir log_dir;
  std::unique_ptr<QLDaemonProcess> daemon =
      StartDaemon({"-l", "0", "-o", log_dir.path()}, dir_.path());
  ASSERT_TRUE(daemon->Signal(SIGTERM));
  int status = 0;
  ASSERT_TRUE(daemon->WaitExit(5000, &status));
  std::string const log = ReadFileText(log_dir.File("gd.log"));
  EXPECT_EQ(1, CountLines(log, "ERROR:", "Quorlin lock unlock problem! Check lock!"));
  EXPECT_EQ(std::string::npos, log.find("INFO: ")) << "level 0 keeps only errors";
  EXPECT_NE(0, access(dir_.File("gd.log").c_str(), F_OK));

  // Without -o the file is gd.log in the working directory.
  daemon = StartDaemon({}, dir_.path());
  ASSERT_TRUE(daemon->Signal(SIGINT));
  ASSERT_TRUE(daemon->WaitExit(5000, &status));
  EXPECT_EQ(1, CountLines(ReadFileText(dir_.File("gd.log")),
                          "INFO: ", "quorlin_gd helper process stopping(2)..."));
}

TEST_F(QuorlinGdProcessTest, TermWithTwentyClientsEndsPromptlyWithStatusOneTwentyTimes) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    QLTempDir log_dir;
    std::unique_ptr<QLDaemonProcess> daemon = StartDaemon({"-o", log_dir.path()}, dir_.path());
    std::vector<int> clients;
    for (int i = 0; i < 20; ++i) {
      int const fd = ConnectWhenListening(kSocket, 5000);
      ASSERT_GE(fd, 0);
      clients.push_back(fd);
    }
    // Every connection has a running worker once it has been answered.
    std::string reply;
    for (int fd : clients) ASSERT_TRUE(Ask(fd, "{}", &reply));

    std::chrono::steady_clock::time_point const sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(daemon->Signal(round % 2 == 0 ? SIGTERM : SIGQUIT));
    int status = 0;
    ASSERT_TRUE(daemon->WaitExit(2000, &status)) << "no exit within 2 s";
    long const ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - sent)
                        .count();
    EXPECT_LT(ms, 2000);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_NE(0, access(kPidFile, F_OK)) << "pid file left behind";
    for (int fd : clients) {
      EXPECT_TRUE(SeesEndOfStream(fd, 1000));
      close(fd);
    }

    int const n = round % 2 == 0 ? SIGTERM : SIGQUIT;
    std::string const log = ReadFileText(log_dir.File("gd.log"));
    std::string const stopping = "quorlin_gd helper process stopping(" + std::to_string(n) + ")...";
    std::string const stopped = "quorlin_gd helper process stoped";
    std::string const deleted = "Quorlin lock file already deleted?";
    std::string const problem = "Quorlin lock unlock problem! Check lock!";
    EXPECT_EQ(1, CountLines(log, "INFO: ", stopping));
    EXPECT_EQ(1, CountLines(log, "INFO: ", stopped));
    EXPECT_EQ(1, CountLines(log, "WARN: ", deleted));
    EXPECT_EQ(1, CountLines(log, "ERROR:", problem));
    EXPECT_LT(log.find(stopping), log.find(stopped));
    EXPECT_LT(log.find(stopped), log.find(deleted));
    EXPECT_LT(log.find(deleted), log.find(problem));
    if (HasFailure()) break;
  }
}

}  // namespace
