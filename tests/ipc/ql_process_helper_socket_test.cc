#include "ipc/ql_process_helper_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/ql_log_capture.h"
#include "support/ql_socket_pair.h"
#include "support/ql_temp_dir.h"

namespace {

std::string AsString(boost::shared_ptr<unsigned char> const& buffer, int length) {
  return std::string(reinterpret_cast<char const*>(buffer.get()), static_cast<size_t>(length));
}

bool SendText(QLProcessHelperSocket& socket, std::string const& payload) {
  return socket.Send(reinterpret_cast<unsigned char const*>(payload.data()),
                     static_cast<unsigned int>(payload.size()));
}

// Payload bytes that differ from position to position.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
  return bytes;
}

class QLProcessHelperSocketTest : public ::testing::Test {
 protected:
  void TearDown() override {
    QLProcessHelperSocket::SetMaxMessageLength(QLProcessHelperSocket::kDefaultMaxMessageLength);
  }
  QLSocketPair pair_;
  QLLogCapture log_;
  QLTempDir dir_;
};

// Send writes the big-endian length, then the payload; Receive gives back
// frames whole and separate, however they arrive (in pieces, back to back,
// empty: 0 and the connection stays open).
TEST_F(QLProcessHelperSocketTest, FramesGoOutBigEndianAndComeBackWholeAndSeparate) {
  ASSERT_TRUE(SendText(*pair_.ours(), Pattern(300)));
  std::string wire;
  ASSERT_TRUE(ReadExactly(pair_.peer(), 304, &wire));
  EXPECT_EQ(std::string("\x00\x00\x01\x2C", 4) + Pattern(300), wire);

  std::string const pieces = Frame(Pattern(5000));
  std::thread writer([&] {
    for (size_t at = 0; at < pieces.size(); at += 997) {
      WriteAll(pair_.peer(), pieces.substr(at, 997));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    WriteAll(pair_.peer(), Frame("first") + Frame("") + Frame("third!"));
  });
  boost::shared_ptr<unsigned char> message;
  int const length = pair_.ours()->Receive(message);
  EXPECT_EQ(Pattern(5000), AsString(message, length));
  for (std::string const expected : {"first", "", "third!"}) {
    ASSERT_EQ(static_cast<int>(expected.size()), pair_.ours()->Receive(message)) << expected;
    EXPECT_EQ(expected, AsString(message, static_cast<int>(expected.size())));
    EXPECT_TRUE(pair_.ours()->IsValid());
  }
  writer.join();
}

// What the peer sends before it closes, and what Receive then gives; every
// case leaves the socket closed. Lengths above the bound (4 GiB - 1 most of
// all) are refused before anything is allocated.
TEST_F(QLProcessHelperSocketTest, CutShortOrOversizedFrameClosesTheSocket) {
  struct Case {
    std::string wire;
    unsigned bound;
    int result;
  } const cases[] = {
      {std::string("\x00\x00", 2), 1024, -1},
      {LengthBytes(10) + "abc", 1024, 0},
      {LengthBytes(1025) + "x", 1024, -1},
      {LengthBytes(0xFFFFFFFFu), QLProcessHelperSocket::kDefaultMaxMessageLength, -1},
  };
  for (auto const& c : cases) {
    QLSocketPair pair;
    QLProcessHelperSocket::SetMaxMessageLength(c.bound);
    ASSERT_TRUE(WriteAll(pair.peer(), c.wire));
    shutdown(pair.peer(), SHUT_WR);
    boost::shared_ptr<unsigned char> message;
    EXPECT_EQ(c.result, pair.ours()->Receive(message)) << c.wire.size();
    EXPECT_FALSE(pair.ours()->IsValid());
    EXPECT_EQ(c.result == 0, static_cast<bool>(message)) << c.wire.size();
  }
  QLProcessHelperSocket::SetMaxMessageLength(1024);
  ASSERT_TRUE(WriteAll(pair_.peer(), Frame(Pattern(1024))));
  boost::shared_ptr<unsigned char> message;
  EXPECT_EQ(1024, pair_.ours()->Receive(message)) << "the bound itself is allowed";
  QLProcessHelperSocket::SetMaxMessageLength(0xFFFFFFFFu);
  EXPECT_EQ(2147483647u, QLProcessHelperSocket::MaxMessageLength()) << "what Receive can report";
}

TEST_F(QLProcessHelperSocketTest, SendToVanishedPeerFailsAndCloses) {
  pair_.ClosePeer();
  EXPECT_FALSE(SendText(*pair_.ours(), Pattern(100000)));
  EXPECT_FALSE(pair_.ours()->IsValid());
  EXPECT_FALSE(SendText(*pair_.ours(), "x"));
  boost::shared_ptr<unsigned char> message;
  EXPECT_EQ(-1, pair_.ours()->Receive(message)) << "a closed socket has nothing to receive";
}

// The chosen mode is the socket file's, whatever the umask; 0 is a mode too.
TEST_F(QLProcessHelperSocketTest, PathAccessGivesTheSocketFileItsMode) {
  for (int const mode : {0, 0640}) {
    QLProcessHelperSocket listener(dir_.File("sock"));
    listener.SetPathAccess(mode, -1);
    ASSERT_TRUE(listener.InitSocketServer());
    struct stat info;
    ASSERT_EQ(0, stat(dir_.File("sock").c_str(), &info));
    EXPECT_EQ(mode, static_cast<int>(info.st_mode & 07777)) << mode;
  }
}

// The listener replaces a file left at its path and serves; a name longer
// than 107 characters is cut for the bind, but the socket keeps it whole.
TEST_F(QLProcessHelperSocketTest, ListenerReplacesOldPathAndAcceptsClients) {
  std::string long_name = dir_.path() + "/";
  while (long_name.size() < 150) long_name += 'n';
  for (std::string const& path : {dir_.File("sock"), long_name}) {
    if (path.size() < 107) {
      ASSERT_TRUE(WriteFileText(path, "left behind"));
    }
    QLProcessHelperSocket listener(path);
    EXPECT_EQ(path, listener.name());
    ASSERT_TRUE(listener.InitSocketServer());
    struct stat info;
    ASSERT_EQ(0, stat(path.substr(0, 107).c_str(), &info));
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    QLProcessHelperSocket client(path);
    ASSERT_TRUE(client.ConnectToServer());
    boost::shared_ptr<QLProcessHelperSocket> accepted(new QLProcessHelperSocket(path));
    ASSERT_TRUE(listener.Accept(accepted));
    ASSERT_TRUE(SendText(client, "ping"));
    boost::shared_ptr<unsigned char> message;
    ASSERT_EQ(4, accepted->Receive(message));
    EXPECT_EQ("ping", AsString(message, 4));
  }
  QLProcessHelperSocket nobody(dir_.File("nobody-listens"));
  EXPECT_FALSE(nobody.ConnectToServer());
  EXPECT_TRUE(nobody.IsValid()) << "a failed connect keeps the socket";
}

}  // namespace
