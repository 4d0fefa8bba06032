#include "ipc/ql_process_helper_socket.h"

#include <errno.h>
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
  return std::string(reinterpret_cast<char const*>(buffer.get()), length);
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
};

TEST_F(QLProcessHelperSocketTest, SendWritesBigEndianLengthThenPayload) {
  std::string const payload = Pattern(300);
  ASSERT_TRUE(SendText(*pair_.ours(), payload));
  std::string wire;
  ASSERT_TRUE(ReadExactly(pair_.peer(), 304, &wire));
  EXPECT_EQ(std::string("\x00\x00\x01\x2C", 4), wire.substr(0, 4));
  EXPECT_EQ(payload, wire.substr(4));
}

TEST_F(QLProcessHelperSocketTest, FrameArrivingInPiecesIsDeliveredWhole) {
  std::string const wire = Frame(Pattern(5000));
  std::thread writer([&] {
    for (size_t at = 0; at < wire.size(); at += 997) {
      WriteAll(pair_.peer(), wire.substr(at, 997));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  boost::shared_ptr<unsigned char> message;
  int const length = pair_.ours()->Receive(message);
  writer.join();
  ASSERT_EQ(5000, length);
  EXPECT_EQ(Pattern(5000), AsString(message, length));
}

TEST_F(QLProcessHelperSocketTest, BackToBackFramesAreSeparateMessages) {
  ASSERT_TRUE(WriteAll(pair_.peer(), Frame("first") + Frame("") + Frame("third!")));
  boost::shared_ptr<unsigned char> message;
  ASSERT_EQ(5, pair_.ours()->Receive(message));
  EXPECT_EQ("first", AsString(message, 5));
  // A zero-length frame: 0, an empty buffer, and the connection stays open.
  EXPECT_EQ(0, pair_.ours()->Receive(message));
  EXPECT_TRUE(pair_.ours()->IsValid());
  ASSERT_EQ(6, pair_.ours()->Receive(message));
  EXPECT_EQ("third!", AsString(message, 6));
}

// What the peer sends before it closes (or stops writing), and what Receive
// then gives; every case leaves the socket closed. Lengths above the bound
// (4 GiB - 1 most of all) are refused before anything is allocated.
TEST_F(QLProcessHelperSocketTest, CutShortOrOversizedFrameClosesTheSocket) {
  struct Case {
    std::string wire;
    unsigned bound;
    int result;
    std::string received;
  } const cases[] = {
      {std::string("\x00\x00", 2), 1024, -1, ""},
      {LengthBytes(10) + "abc", 1024, 0, "abc"},
      {LengthBytes(1025) + "x", 1024, -1, ""},
      {LengthBytes(0xFFFFFFFFu), QLProcessHelperSocket::kDefaultMaxMessageLength, -1, ""},
  };
  for (auto const& c : cases) {
    QLSocketPair pair;
    QLProcessHelperSocket::SetMaxMessageLength(c.bound);
    ASSERT_TRUE(WriteAll(pair.peer(), c.wire));
    shutdown(pair.peer(), SHUT_WR);
    boost::shared_ptr<unsigned char> message;
    EXPECT_EQ(c.result, pair.ours()->Receive(message)) << c.wire.size();
    EXPECT_FALSE(pair.ours()->IsValid());
    if (c.result < 0) {
      EXPECT_FALSE(message) << c.wire.size();
    } else {
      EXPECT_EQ(c.received, AsString(message, 3));
    }
  }
  QLProcessHelperSocket::SetMaxMessageLength(1024);
  ASSERT_TRUE(WriteAll(pair_.peer(), Frame(Pattern(1024))));
  boost::shared_ptr<unsigned char> message;
  EXPECT_EQ(1024, pair_.ours()->Receive(message)) << "the bound itself is allowed";
  QLProcessHelperSocket::SetMaxMessageLength(0xFFFFFFFFu);
  EXPECT_EQ(2147483647u, QLProcessHelperSocket::MaxMessageLength()) << "what Receive can report";
}

TEST_F(QLProcessHelperSocketTest, ShutdownFromAnotherThreadReleasesBlockedReceive) {
  std::atomic<int> result(1);
  std::thread receiver([&] {
    boost::shared_ptr<unsigned char> message;
    result = pair_.ours()->Receive(message);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pair_.ours()->Shutdown();
  ASSERT_TRUE(WaitUntil([&] { return result.load() != 1; }, 2000)) << "receive still blocked";
  receiver.join();
  EXPECT_EQ(-1, result.load());
  EXPECT_FALSE(pair_.ours()->IsValid()) << "the receiving owner closes it";
  EXPECT_TRUE(SeesEndOfStream(pair_.peer(), 1000));
}

TEST_F(QLProcessHelperSocketTest, SendToVanishedPeerFailsAndCloses) {
  pair_.ClosePeer();
  std::string const payload = Pattern(100000);
  EXPECT_FALSE(SendText(*pair_.ours(), payload));
  EXPECT_FALSE(pair_.ours()->IsValid());
  EXPECT_FALSE(SendText(*pair_.ours(), "x"));
}

class QLSocketServerSetupTest : public ::testing::Test {
 protected:
  QLTempDir dir_;
  QLLogCapture log_;
};

TEST_F(QLSocketServerSetupTest, ListenerReplacesOldPathAndAcceptsClients) {
  std::string const path = dir_.File("sock");
  ASSERT_TRUE(WriteFileText(path, "left behind"));
  QLProcessHelperSocket listener(path);
  ASSERT_TRUE(listener.InitSocketServer());
  struct stat info;
  ASSERT_EQ(0, stat(path.c_str(), &info));
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

TEST_F(QLSocketServerSetupTest, LongNameIsCutAt107CharactersButKeptWhole) {
  std::string name = dir_.path() + "/";
  while (name.size() < 150) name += 'n';
  QLProcessHelperSocket listener(name);
  EXPECT_EQ(name, listener.name());
  ASSERT_TRUE(listener.InitSocketServer());
  struct stat info;
  ASSERT_EQ(0, stat(name.substr(0, 107).c_str(), &info));
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  QLProcessHelperSocket client(name);
  EXPECT_TRUE(client.ConnectToServer());
}

TEST_F(QLSocketServerSetupTest, AcceptedDescriptorZeroCountsAsFailure) {
  QLProcessHelperSocket listener(dir_.File("sock"));
  ASSERT_TRUE(listener.InitSocketServer());
  int const client = ConnectTo(dir_.File("sock"));
  ASSERT_GE(client, 0);
  // Free descriptor 0 so the accepted connection gets it.
  int const saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  close(0);
  bool accepted;
  {
    boost::shared_ptr<QLProcessHelperSocket> holder(new QLProcessHelperSocket("c"));
    accepted = listener.Accept(holder);
    EXPECT_EQ(0, holder->m_sock_value());
  }  // the holder closes descriptor 0 again
  dup2(saved_stdin, 0);
  close(saved_stdin);
  close(client);
  EXPECT_FALSE(accepted);
}

TEST_F(QLSocketServerSetupTest, ConnectFailureKeepsTheSocketOpen) {
  QLProcessHelperSocket client(dir_.File("nobody-listens"));
  EXPECT_FALSE(client.ConnectToServer());
  EXPECT_TRUE(client.IsValid());
}

TEST_F(QLSocketServerSetupTest, ShutdownFromAnotherThreadReleasesBlockedAccept) {
  QLProcessHelperSocket listener(dir_.File("sock"));
  ASSERT_TRUE(listener.InitSocketServer());
  std::atomic<int> accepted(-1);
  std::thread acceptor([&] {
    boost::shared_ptr<QLProcessHelperSocket> client(new QLProcessHelperSocket("c"));
    accepted = listener.Accept(client) ? 1 : 0;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  listener.Shutdown();
  ASSERT_TRUE(WaitUntil([&] { return accepted.load() != -1; }, 2000)) << "accept still blocked";
  acceptor.join();
  EXPECT_EQ(0, accepted.load());
  EXPECT_EQ(-1, ConnectTo(dir_.File("sock"))) << "a shut-down listener refuses";
  listener.Close();
  EXPECT_FALSE(listener.IsValid());
}

}  // namespace
