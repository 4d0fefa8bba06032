#include "support/ql_socket_pair.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <stdexcept>

QLSocketPair::QLSocketPair() : ours_(new QLProcessHelperSocket("pair")), peer_(-1) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    throw std::runtime_error("socketpair failed");
  }
  ours_->set_m_sock(fds[0]);
  peer_ = fds[1];
}

QLSocketPair::~QLSocketPair() { ClosePeer(); }

void QLSocketPair::ClosePeer() {
  if (peer_ >= 0) close(peer_);
  peer_ = -1;
}

std::string LengthBytes(uint32_t length) {
  std::string bytes(4, '\0');
  bytes[0] = static_cast<char>((length >> 24) & 0xff);
  bytes[1] = static_cast<char>((length >> 16) & 0xff);
  bytes[2] = static_cast<char>((length >> 8) & 0xff);
  bytes[3] = static_cast<char>(length & 0xff);
  return bytes;
}

std::string Frame(std::string const& payload) {
  return LengthBytes(static_cast<uint32_t>(payload.size())) + payload;
}

bool WriteAll(int fd, std::string const& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

// Reads exactly `size` bytes; false on end or error (or after `timeout_ms`).
static bool ReadExactly(int fd, size_t size, std::string* out, int timeout_ms) {
  out->assign(size, '\0');
  size_t done = 0;
  while (done < size) {
    struct pollfd waiting = {fd, POLLIN, 0};
    int ready = poll(&waiting, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t got = recv(fd, &(*out)[done], size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool ReadFrame(int fd, std::string* payload, int timeout_ms) {
  std::string header;
  if (!ReadExactly(fd, 4, &header, timeout_ms)) return false;
  unsigned char const* b = reinterpret_cast<unsigned char const*>(header.data());
  uint32_t length = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
                    (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
  return ReadExactly(fd, length, payload, timeout_ms);
}

bool SeesEndOfStream(int fd, int timeout_ms) {
  // Data still in flight is skipped; an end or a reset counts as closed.
  for (;;) {
    struct pollfd waiting = {fd, POLLIN, 0};
    int const ready = poll(&waiting, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char bytes[4096];
    ssize_t const got = recv(fd, bytes, sizeof(bytes), MSG_DONTWAIT);
    if (got == 0) return true;
    if (got < 0) return errno == ECONNRESET || errno == EPIPE;
  }
}

int ConnectTo(std::string const& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_un address;
  memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}
