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

// What the peer sends before it closes, and what Receive then gives and
// says; every case leaves the socket closed. Lengths above the bound
// (4 GiB - 1 most of all) are refused before anything is allocated.
TEST_F(QLProcessHelperSocketTest, CutShortOrOversizedFrameClosesTheSocket) {
  struct Case {
    std::string wire;
    unsigned bound;
    int result;
    QLStatus::Kind kind;
  } const cases[] = {
      {std::string("\x00\x00", 2), 1024, -1, QLStatus::Kind::kClosed},
      {LengthBytes(10) + "abc", 1024, 0, QLStatus::Kind::kClosed},
      {LengthBytes(1025) + "x", 1024, -1, QLStatus::Kind::kInvalid},
      {LengthBytes(0xFFFFFFFFu), QLProcessHelperSocket::kDefaultMaxMessageLength, -1,
       QLStatus::Kind::kInvalid},
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
    EXPECT_EQ(c.kind, pair.ours()->receive_status().kind()) << c.wire.size();
  }
  QLProcessHelperSocket::SetMaxMessageLength(1024);
  ASSERT_TRUE(WriteAll(pair_.peer(), Frame(Pattern(1024))));
  boost::shared_ptr<unsigned char> message;
  EXPECT_EQ(1024, pair_.ours()->Receive(message)) << "the bound itself is allowed";
  QLProcessHelperSocket::SetMaxMessageLength(0xFFFFFFFFu);
  EXPECT_EQ(2147483647u, QLProcessHelperSocket::MaxMessageLength()) << "what Receive can report";
}

// The limits a server puts on each connection, one case per reason: a frame
// stalled halfway or a silent connection is closed when its time is up,
// while a frame's time starts with its first byte; a frame's buffer beyond
// its first 4 KiB comes out of the budget, which gets it all back however
// it ends. The socket logs none of it: its status says why.
TEST_F(QLProcessHelperSocketTest, ReceiveLimitsCloseStalledAndOverBudgetConnections) {
  struct Case {
    int frame_ms, idle_ms;
    size_t budget, payload, sent;
    int delay_ms, result;
    QLStatus::Kind kind;
  } const cases[] = {
      {150, 0, 0, 9000, 3000, 0, -1, QLStatus::Kind::kTimedOut},
      {0, 150, 0, 10, 0, 0, -1, QLStatus::Kind::kTimedOut},
      {0, 0, 4096, 9000, 9000, 0, -1, QLStatus::Kind::kNoSpace},
      {100, 0, 4096, 8192, 8192, 300, 8192, QLStatus::Kind::kOk},
  };
  for (auto const& c : cases) {
    QLSocketPair pair;
    QLReceiveLimits limits;
    limits.frame_timeout_ms = c.frame_ms;
    limits.idle_timeout_ms = c.idle_ms;
    limits.budget.reset(new QLReceiveBudget(c.budget));
    pair.ours()->SetReceiveLimits(limits);
    std::string const wire = LengthBytes(static_cast<uint32_t>(c.payload)) + Pattern(c.payload);
    std::thread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(c.delay_ms));
      if (c.sent > 0) WriteAll(pair.peer(), wire.substr(0, 4 + c.sent));
    });
    auto const begun = std::chrono::steady_clock::now();
    boost::shared_ptr<unsigned char> message;
    EXPECT_EQ(c.result, pair.ours()->Receive(message)) << c.payload;
    peer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2));
    EXPECT_EQ(c.result > 0, pair.ours()->IsValid()) << c.payload;
    EXPECT_EQ(0u, limits.budget->used());
    EXPECT_EQ(c.kind, pair.ours()->receive_status().kind()) << c.payload;
  }
  EXPECT_EQ(0, log_.Count("ERROR:"));
}

TEST_F(QLProcessHelperSocketTest, SendToVanishedPeerFailsAndCloses) {
  pair_.ClosePeer();
  EXPECT_FALSE(SendText(*pair_.ours(), Pattern(100000)));
  EXPECT_FALSE(pair_.ours()->IsValid());
  EXPECT_FALSE(SendText(*pair_.ours(), "x"));
  boost::shared_ptr<unsigned char> message;
  EXPECT_EQ(-1, pair_.ours()->Receive(message)) << "a closed socket has nothing to receive";
}

// A reply of 16 MiB or more (a large full-screen PNG) needs the length's
// top byte; the reader lets go after one frame, so a wrong header cannot
// leave Send blocked.
TEST_F(QLProcessHelperSocketTest, LengthOf16MiBAndMoreKeepsItsTopByte) {
  std::string const payload((std::size_t{1} << 24) + 5, 'x');
  std::string got;
  std::thread reader([&] {
    ReadFrame(pair_.peer(), &got);
    pair_.ClosePeer();
  });
  SendText(*pair_.ours(), payload);
  reader.join();
  EXPECT_EQ(payload.size(), got.size());
}

}  // namespace
