#include "main/ql_lock.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "main/ql_lock_internal.h"
#include "support/ql_log_capture.h"
#include "support/ql_temp_dir.h"
#include "support/ql_wait_until.h"

namespace {

// A child process that blocks until killed, started with a chosen argv.
class ChildProcess {
 public:
  ChildProcess(char const* program, char const* argv0, char const* argument) : pid_(fork()) {
    if (pid_ == 0) {
      execl(program, argv0, "-f", argument, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~ChildProcess() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }
  // True once the child runs the program, its command line starting with
  // `argv0`.
  bool Started(std::string const& argv0) const {
    return WaitUntil(
        [&] { return ReadFileText("/proc/" + std::to_string(pid_) + "/cmdline").find(argv0) == 0; },
        2000);
  }

 private:
  pid_t pid_;
};

class QLLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ql_set_lock_folder_for_testing((dir_.path() + "/").c_str());
    // The name must occur in this test binary's own argv[0].
    own_name_ = program_invocation_short_name;
  }
  void TearDown() override { ql_set_lock_folder_for_testing(nullptr); }

  std::string PidFile(std::string const& name) const { return dir_.File(name + ".pid"); }
  void WritePid(std::string const& name, long pid) {
    ASSERT_TRUE(WriteFileText(PidFile(name), std::to_string(pid) + "\n"));
  }

  QLTempDir dir_;
  QLLogCapture log_;
  std::string own_name_;
};

// A live pid counts when the name occurs in that process's program path
// (not in a later argument); leading blanks and text after the number are
// allowed, empty or non-numeric content is no instance.
TEST_F(QLLockTest, CheckFindsALiveProcessOfThatName) {
  std::string const watched = dir_.File("quorlin_gd_in_an_argument");
  ASSERT_TRUE(WriteFileText(watched, "x"));
  ChildProcess renamed("/usr/bin/tail", "/opt/old/quorlin_gd_old", watched.c_str());
  ChildProcess plain("/usr/bin/tail", "tail", watched.c_str());
  ASSERT_TRUE(plain.Started("tail"));
  ASSERT_TRUE(renamed.Started("/opt/old/quorlin_gd_old"));
  struct {
    std::string name, content;
    bool running;
  } const cases[] = {
      {"quorlin_gd", std::to_string(renamed.pid()) + "\n", true},
      {"quorlin_gd", std::to_string(plain.pid()) + "\n", false},
      {own_name_, "  " + std::to_string(getpid()) + " trailing", true},
      {"quorlin_gd", "", false},
      {"quorlin_gd", "abc\n", false},
  };
  for (auto const& c : cases) {
    ASSERT_TRUE(WriteFileText(PidFile(c.name), c.content));
    EXPECT_EQ(c.running, ql_check_lock(c.name.c_str()) != 0) << c.content;
    EXPECT_EQ(c.content, ReadFileText(PidFile(c.name))) << "the check never removes the file";
  }
}

TEST_F(QLLockTest, LockReplacesAStalePidFileWithItsOwnPidAndMode0644) {
  pid_t const child = fork();
  if (child == 0) _exit(0);
  ASSERT_EQ(child, waitpid(child, nullptr, 0));
  WritePid("quorlin_gd", child);
  EXPECT_EQ(0, ql_check_lock("quorlin_gd")) << "a dead pid is stale";
  ASSERT_EQ(0, ql_lock("quorlin_gd"));
  EXPECT_EQ(std::to_string(getpid()) + "\n", ReadFileText(PidFile("quorlin_gd")));
  struct stat info;
  ASSERT_EQ(0, stat(PidFile("quorlin_gd").c_str(), &info));
  EXPECT_EQ(0644u, info.st_mode & 0777u);
  ASSERT_EQ(0, ql_unlock("quorlin_gd"));
  ASSERT_EQ(0, mkdir(PidFile("quorlin_gd").c_str(), 0755));
  EXPECT_EQ(0, ql_check_lock("quorlin_gd")) << "an unreadable pid file";
  EXPECT_EQ(1, ql_lock("quorlin_gd"));
}

}  // namespace
