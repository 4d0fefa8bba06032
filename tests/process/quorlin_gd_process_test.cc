// The daemon binary as a whole: start-up, the single-instance lock, the log
// folder option and the stop by signal, on the real socket and pid file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "process/load_harness.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

class QuorlinGdProcessTest : public LiveDaemonTest {
 protected:
  // Sends an empty object and reads the reply's payload.
  static bool Ask(LoadConnection& connection, std::string* reply) {
    return connection.Ask("{}", reply, 5000);
  }
};

TEST_F(QuorlinGdProcessTest, ServesAFrameAndLocksWithItsPid) {
  StartDaemon({});
  if (HasFatalFailure()) return;
  LoadConnection connection;
  std::string reply;
  ASSERT_TRUE(Ask(connection, &reply));
  EXPECT_EQ(std::string(1, '\0'), reply) << "no thumbnail: the one-byte reply";
  connection.Close();
  EXPECT_EQ(std::to_string(daemon_->pid()) + "\n", ReadFileText(kPidFile));
  StopServing();
}

TEST_F(QuorlinGdProcessTest, SecondInstanceExitsZeroAndLeavesThePidFile) {
  StartDaemon({});
  if (HasFatalFailure()) return;
  LoadDaemon second({});
  int status = -1;
  ASSERT_TRUE(second.process().WaitExit(5000, &status));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ(1, CountLogLines(second.LogText(), "ERROR:", "Process quorlin_gd already running!"));
  EXPECT_EQ(std::to_string(daemon_->pid()) + "\n", ReadFileText(kPidFile));
  LoadConnection connection;
  EXPECT_TRUE(connection.ok()) << "the first instance still serves";
}

TEST_F(QuorlinGdProcessTest, LogLandsInWorkingDirOrOptionFolderAtTheGivenLevel) {
  QLTempDir working_dir, log_dir;
  auto run_until = [&](std::vector<std::string> const& arguments, int signal_number) {
    QLDaemonProcess daemon(QL_DAEMON_BINARY, arguments, working_dir.path());
    int const fd = ConnectWhenListening(kSocketPath, 5000);
    if (fd >= 0) close(fd);
    int status = 0;
    EXPECT_TRUE(daemon.Signal(signal_number));
    EXPECT_TRUE(daemon.WaitExit(5000, &status));
  };
  run_until({"-l", "0", "-o", log_dir.path()}, SIGTERM);
  std::string const log = ReadFileText(log_dir.File("gd.log"));
  EXPECT_EQ(1, CountLogLines(log, "ERROR:", "Quorlin lock unlock problem! Check lock!"));
  EXPECT_EQ(std::string::npos, log.find("INFO: ")) << "level 0 keeps only errors";
  EXPECT_NE(0, access(working_dir.File("gd.log").c_str(), F_OK));

  // Without -o the file is gd.log in the working directory.
  run_until({}, SIGINT);
  EXPECT_EQ(1, CountLogLines(ReadFileText(working_dir.File("gd.log")),
                             "INFO: ", "quorlin_gd helper process stopping(2)..."));
}

// Each stopping signal with twenty connections open, each with a running
// worker: the daemon ends within two seconds with status 1, removes its pid
// file, closes every connection, and logs its stop once, in this order.
TEST_F(QuorlinGdProcessTest, StopSignalWithTwentyClientsEndsPromptlyWithStatusOne) {
  for (int n : {SIGTERM, SIGQUIT, SIGINT}) {
    SCOPED_TRACE("signal " + std::to_string(n));
    StartDaemon({});
    if (HasFatalFailure()) return;
    std::vector<std::unique_ptr<LoadConnection>> clients;
    std::string reply;
    for (int i = 0; i < 20; ++i) {
      clients.emplace_back(new LoadConnection());
      ASSERT_TRUE(Ask(*clients.back(), &reply)) << "client " << i;
    }
    std::chrono::steady_clock::time_point const sent = std::chrono::steady_clock::now();
    StopServing(n);
    if (HasFatalFailure()) return;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - sent)
                  .count(),
              2000);
    EXPECT_NE(0, access(kPidFile, F_OK)) << "pid file left behind";
    for (auto const& client : clients) EXPECT_TRUE(SeesEndOfStream(client->fd(), 1000));

    std::string const log = daemon_->LogText();
    struct Line {
      char const* level;
      std::string text;
    } const lines[] = {
        {"INFO: ", "quorlin_gd helper process stopping(" + std::to_string(n) + ")..."},
        {"INFO: ", "quorlin_gd helper process stoped"},
        {"WARN: ", "Quorlin lock file already deleted?"},
        {"ERROR:", "Quorlin lock unlock problem! Check lock!"},
    };
    size_t at = 0;
    for (Line const& line : lines) {
      EXPECT_EQ(1, CountLogLines(log, line.level, line.text)) << line.text;
      size_t const found = log.find(line.text);
      EXPECT_TRUE(found != std::string::npos && found >= at) << "out of order: " << line.text;
      at = found == std::string::npos ? at : found;
    }
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace load
