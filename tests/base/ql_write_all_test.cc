#include "base/ql_write_all.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

// A pipe holds far less than this, so write() returns short counts and the
// loop must carry on from where each one stopped.
TEST(WriteAllTest, WritesEveryByteThroughShortWrites) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::string sent(1 << 20, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + i / 251);
  std::string received;
  std::thread reader([&]() {
    char chunk[4096];
    ssize_t got;
    while ((got = read(fds[0], chunk, sizeof chunk)) > 0) received.append(chunk, got);
  });
  EXPECT_TRUE(WriteAll(fds[1], sent.data(), sent.size()));
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes arrived";
}

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
