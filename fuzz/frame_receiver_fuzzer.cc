// Fuzz target for the frame receiver: the input is everything a peer ever
// writes on one connection. It goes into one end of a socket pair, that end
// is closed, and QLProcessHelperSocket::Receive reads frames from the other
// end until the connection is over. Beyond "no crash, no leak, no sanitizer
// report", every result is checked against a plain model of the framing:
// each frame comes out whole and unchanged, a length above the bound ends
// the connection without allocating, a peer gone during the length is -1, a
// peer gone during the payload is 0 with the socket closed.
// links: ql_ipc ql_log ql_test_support
#include <sys/socket.h>
#include <unistd.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "ipc/ql_process_helper_socket.h"

namespace {

using qlfuzz::FuzzCheck;

// Small, so that inputs of a few kilobytes reach the over-the-bound path.
unsigned int const kMaxMessageLength = 1024;

// Writes everything, then closes the writing end. The socket buffer of a
// local stream pair (over 200 kB) holds every input up to -max_len.
bool WriteAndClose(int fd, uint8_t const* data, size_t size) {
  size_t written = 0;
  while (written < size) {
    ssize_t n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  close(fd);
  return written == size;
}

uint32_t BigEndian32(uint8_t const* bytes) {
  return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
         (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  QLProcessHelperSocket::SetMaxMessageLength(kMaxMessageLength);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  // The socket buffer must hold the whole input (see WriteAndClose).
  if (size > 64 * 1024) return 0;
  int fds[2];
  FuzzCheck(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0, "socketpair");
  FuzzCheck(WriteAndClose(fds[1], data, size), "write the input");

  QLProcessHelperSocket socket("fuzz");
  socket.set_m_sock(fds[0]);

  size_t offset = 0;  // where the model expects the next frame to start
  for (;;) {
    boost::shared_ptr<unsigned char> message;
    int const result = socket.Receive(message);
    size_t const left = size - offset;
    if (left < 4) {
      // Peer gone before (or during) the length bytes.
      FuzzCheck(result == -1, "a cut length is -1");
      FuzzCheck(!socket.IsValid(), "a cut length closes the socket");
      break;
    }
    uint32_t const length = BigEndian32(data + offset);
    if (length > kMaxMessageLength) {
      FuzzCheck(result == -1, "an over-long frame is -1");
      FuzzCheck(!socket.IsValid(), "an over-long frame closes the socket");
      FuzzCheck(!message, "nothing is allocated for an over-long frame");
      break;
    }
    if (left - 4 < length) {
      // Peer gone during the payload: 0, closed, the part that came is kept.
      FuzzCheck(result == 0, "a cut payload is 0");
      FuzzCheck(!socket.IsValid(), "a cut payload closes the socket");
      FuzzCheck(static_cast<bool>(message), "a cut payload keeps its buffer");
      if (left > 4) {
        FuzzCheck(std::memcmp(message.get(), data + offset + 4, left - 4) == 0,
                  "the received part of a cut payload is unchanged");
      }
      break;
    }
    FuzzCheck(result == static_cast<int>(length), "a whole frame reports its length");
    FuzzCheck(socket.IsValid(), "a whole frame leaves the socket open");
    if (length > 0) {
      FuzzCheck(message && std::memcmp(message.get(), data + offset + 4, length) == 0,
                "a whole frame is delivered unchanged");
    }
    offset += 4 + length;
  }
  // The socket's destructor closes nothing more: every end above closed it.
  FuzzCheck(!socket.IsValid(), "the connection is over");
  return 0;
}
