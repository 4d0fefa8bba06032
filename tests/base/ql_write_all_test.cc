#include "base/ql_write_all.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

TEST(WriteAllTest, ReportsAFailedWriteWithItsErrno) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  close(fds[0]);
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGPIPE, &ignore, &old));
  errno = 0;
  EXPECT_FALSE(WriteAll(fds[1], "x", 1));
  EXPECT_EQ(EPIPE, errno);
  sigaction(SIGPIPE, &old, nullptr);
  close(fds[1]);
  EXPECT_TRUE(WriteAll(fds[1], "", 0)) << "nothing to write is no error";
}
