#include "main/ql_helper_process_main.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "ipc/ql_process_helper_socket.h"
#include "ipc/ql_process_socket_server.h"
#include "main/ql_helper_process_main_internal.h"
#include "main/ql_lock_internal.h"
#include "service/ql_service_registry.h"
#include "support/ql_daemon_launcher.h"
#include "support/ql_log_capture.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"

namespace {

// The group option takes a number or a name; anything else is reported as
// ignored (the words around it: the command-line parser's own test).
TEST(ParseArgumentsTest, SocketGroupIsTakenOrReportedAsIgnored) {
  struct Case {
    char const* value;
    long group;
    bool reported;
  } const cases[] = {{"0", 0, false}, {"root", 0, false}, {"no group of this name", -1, true}};
  for (Case const& c : cases) {
    QLArguments arguments;
    char* argv[] = {const_cast<char*>("quorlin_gd"), const_cast<char*>("--socket-group"),
                    const_cast<char*>(c.value), nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, parse_arguments(3, argv, &arguments));
    std::string const said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.group, arguments.socket_group) << c.value;
    EXPECT_EQ(c.reported, said.find("ignoring --socket-group") != std::string::npos) << said;
  }
  // 0 is a value of its own here: no cap on a peer's connections.
  QLArguments arguments;
  char* argv[] = {const_cast<char*>("quorlin_gd"), const_cast<char*>("--max-peer-connections"),
                  const_cast<char*>("0"), nullptr};
  EXPECT_EQ(1, parse_arguments(3, argv, &arguments));
  EXPECT_EQ(0u, arguments.max_peer_connections);
}

// The stop sequence against a real server on a temporary socket, with the
// pid file in a temporary folder.
class SigHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessFrameForTesting();
    ql_set_lock_folder_for_testing((dir_.path() + "/").c_str());
    pid_file_ = dir_.File(GetProcessName() + ".pid");
    server_.reset(new QLProcessHelperSocketServerService(dir_.File("s"), GetProcessHelper()));
  }
  void TearDown() override {
    if (server_thread_.joinable()) {
      server_->StopServer();
      server_thread_.join();
    }
    QLServiceRegistry::RegisterService(QLProcessHelperSocketServerService::kName,
                                       boost::shared_ptr<QLService>());
    ql_set_lock_folder_for_testing(nullptr);
    ResetProcessFrameForTesting();
  }
  void Serve() {
    QLServiceRegistry::RegisterService(QLProcessHelperSocketServerService::kName, server_);
    server_thread_ = std::thread([this] { server_->StartServer(); });
  }

  QLTempDir dir_;
  QLLogCapture log_;
  std::string pid_file_;
  boost::shared_ptr<QLProcessHelperSocketServerService> server_;
  std::thread server_thread_;
};

// TERM, QUIT and INT stop the server, close every connection and remove
// the pid file, once; other signals do nothing; a stop before the lock was
// taken leaves another instance's pid file alone.
TEST_F(SigHandlerTest, StopSignalsStopTheServerAndReleaseTheLockOnce) {
  for (int n : {SIGHUP, SIGUSR1, SIGPIPE, 0, SIGQUIT, SIGINT}) {
    bool const stops = n == SIGQUIT || n == SIGINT;
    ResetProcessFrameForTesting();
    ASSERT_EQ(0, TakeProcessLock(GetProcessName().c_str()));
    sig_handler(n);
    EXPECT_EQ(stops, StopRequested()) << n;
    EXPECT_EQ(stops, access(pid_file_.c_str(), F_OK) != 0) << n;
  }
  ResetProcessFrameForTesting();
  ASSERT_TRUE(WriteFileText(pid_file_, "1\n"));
  sig_handler(SIGTERM);
  EXPECT_TRUE(StopRequested());
  EXPECT_EQ("1\n", ReadFileText(pid_file_));

  ResetProcessFrameForTesting();
  log_.Clear();
  ASSERT_EQ(0, unlink(pid_file_.c_str()));
  ASSERT_EQ(0, TakeProcessLock(GetProcessName().c_str()));
  Serve();
  int const a = ConnectWhenListening(dir_.File("s"), 2000);
  int const b = ConnectWhenListening(dir_.File("s"), 2000);
  std::string reply;
  ASSERT_TRUE(WriteAll(a, Frame("x")) && ReadFrame(a, &reply));
  ASSERT_TRUE(WriteAll(b, Frame("y")) && ReadFrame(b, &reply));
  sig_handler(SIGTERM);
  server_thread_.join();
  EXPECT_TRUE(StopRequested());
  EXPECT_EQ(0u, server_->WorkerCount());
  EXPECT_TRUE(SeesEndOfStream(a, 1000));
  EXPECT_TRUE(SeesEndOfStream(b, 1000));
  EXPECT_NE(0, access(pid_file_.c_str(), F_OK));
  sig_handler(SIGINT);  // a second signal does not run the sequence again
  EXPECT_EQ(1, log_.Count("stopping("));
  EXPECT_EQ(0, log_.Count("already deleted") + log_.Count("unlock problem"));
  close(a);
  close(b);
}

}  // namespace
