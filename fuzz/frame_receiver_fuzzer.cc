// Fuzz target for the frame receiver: the input is everything a peer ever
// writes on one connection. It goes into one end of a socket pair, that end
// is closed, and QLProcessHelperSocket::Receive reads frames from the other
// end until the connection is over. Every result is checked against a plain
// model of the framing: each frame comes out whole and unchanged, a length
// above the bound ends the connection without allocating, a peer gone during
// the length is -1, a peer gone during the payload is 0 with the socket closed.
#include <sys/socket.h>
#include <unistd.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <cstring>

#include "base/ql_write_all.h"
#include "fuzz_support.h"
#include "ipc/ql_process_helper_socket.h"

using qlfuzz::FuzzCheck;

// Small, so that inputs of a few kilobytes reach the over-the-bound path.
unsigned int const kMaxMessageLength = 1024;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  QLProcessHelperSocket::SetMaxMessageLength(kMaxMessageLength);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  // The socket buffer of a local stream pair (over 200 kB) must hold it all.
  if (size > 64 * 1024) return 0;
  int fds[2];
  FuzzCheck(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0, "socketpair");
  FuzzCheck(WriteAll(fds[1], data, size), "write the input");
  close(fds[1]);
  QLProcessHelperSocket socket("fuzz");
  socket.set_m_sock(fds[0]);

  for (size_t offset = 0;;) {  // where the model expects the next frame
    boost::shared_ptr<unsigned char> message;
    int const result = socket.Receive(message);
    size_t const left = size - offset;
    uint32_t length = 0;
    for (size_t i = 0; i < 4 && i < left; ++i) length = (length << 8) | data[offset + i];
    if (left < 4 || length > kMaxMessageLength) {
      FuzzCheck(result == -1, "a cut or over-long length is -1");
      FuzzCheck(left < 4 || !message, "nothing is allocated for an over-long frame");
      break;
    }
    if (left - 4 < length) {
      FuzzCheck(result == 0, "a cut payload is 0");
      FuzzCheck(message && std::memcmp(message.get(), data + offset + 4, left - 4) == 0,
                "the received part of a cut payload is kept unchanged");
      break;
    }
    FuzzCheck(result == static_cast<int>(length), "a whole frame reports its length");
    FuzzCheck(socket.IsValid(), "a whole frame leaves the socket open");
    FuzzCheck(
        length == 0 || (message && std::memcmp(message.get(), data + offset + 4, length) == 0),
        "a whole frame is delivered unchanged");
    offset += 4 + length;
  }
  FuzzCheck(!socket.IsValid(), "the end of the connection closes the socket");
  return 0;
}
