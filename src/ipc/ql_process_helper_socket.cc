#include "ipc/ql_process_helper_socket.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace {

// The full size of the local address structure; bind, connect and accept
// always pass it whole.
const socklen_t kAddressLength = sizeof(struct sockaddr_un);
static_assert(sizeof(struct sockaddr_un) == 110, "local address size");

const int kListenBacklog = 50;
// Room in sun_path for the name; the byte after it always stays zero.
const size_t kMaxPathLength = 107;

std::atomic<unsigned int> g_max_message_length(QLProcessHelperSocket::kDefaultMaxMessageLength);

struct FreeBytes {
  void operator()(unsigned char* bytes) const { free(bytes); }
};

// Waits until `fd` has something to read (data, its end or an error) or the
// deadline passes; false only for the deadline. With no deadline it returns
// at once, and the receive itself blocks as it always did, unless `block`
// asks to wait here for as long as it takes.
bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline, bool block = false) {
  bool const forever = deadline == std::chrono::steady_clock::time_point::max();
  if (forever && !block) return true;
  for (;;) {
    auto const left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!forever && left.count() <= 0) return false;
    struct pollfd entry = {fd, POLLIN, 0};
    int const wait_ms = forever ? -1 : static_cast<int>(std::min<long long>(left.count(), INT_MAX));
    int const ready = poll(&entry, 1, wait_ms);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
}

std::chrono::steady_clock::time_point DeadlineIn(int ms) {
  if (ms <= 0) return std::chrono::steady_clock::time_point::max();
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

int intFromByteArray(unsigned char const* bytes) {
  uint32_t value = (static_cast<uint32_t>(bytes[0]) << 24) |
                   (static_cast<uint32_t>(bytes[1]) << 16) |
                   (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
  return static_cast<int>(value);
}

QLProcessHelperSocket::QLProcessHelperSocket(std::string name) : m_sock(-1), name_(name) {
  memset(&address_, 0, sizeof(address_));
  address_.sun_family = AF_UNIX;
  strncpy(address_.sun_path, name_.c_str(), kMaxPathLength);
}

QLProcessHelperSocket::~QLProcessHelperSocket() {
  if (IsValid()) Close();
  memset(&address_, 0, sizeof(address_));
}

bool QLProcessHelperSocket::Create() {
  m_sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return IsValid();
}

bool QLProcessHelperSocket::Bind() {
  if (!IsValid()) return false;
  return ::bind(m_sock.load(), reinterpret_cast<struct sockaddr const*>(&address_),
                kAddressLength) != -1;
}

bool QLProcessHelperSocket::Listen() const {
  if (!IsValid()) return false;
  return ::listen(m_sock.load(), kListenBacklog) != -1;
}

QLStatus QLProcessHelperSocket::Accept(boost::shared_ptr<QLProcessHelperSocket> client) {
  if (!client) return QLStatus(QLStatus::Kind::kInvalid, name_, "Accept without a client socket");
  struct sockaddr_un peer;
  socklen_t length = kAddressLength;
  int fd =
      ::accept4(m_sock.load(), reinterpret_cast<struct sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  int const error = errno;
  client->set_m_sock(fd);
  if (fd <= 0) return QLPosixError(name_, "", fd < 0 ? error : 0);
  // Whoever acts for the connection later needs to know whose it is.
  client->has_peer_ = ReadPeerCredentials(fd, &client->peer_);
  return QLStatus();
}

QLStatus QLProcessHelperSocket::ConnectToServer() {
  if (!IsValid() && !Create()) {
    int const error = errno;
    return QLPosixError(name_, "Create Error: " + QLErrnoText(error), error);
  }
  int result;
  do {
    result = ::connect(m_sock.load(), reinterpret_cast<struct sockaddr const*>(&address_),
                       kAddressLength);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return QLStatus();
  int const error = errno;
  return QLPosixError(
      name_, "Connect to (" + std::string(address_.sun_path) + ") Error: " + std::to_string(error),
      error);
}

QLStatus QLProcessHelperSocket::InitSocketServer() {
  if (!Create()) return QLPosixError(name_, "Socket " + name_ + " failed to create", errno);
  unlink(name_.c_str());
  bool const set_access = path_mode_ >= 0 || path_group_ >= 0;
  // umask is process-wide; at start-up no other thread creates files.
  mode_t const process_mask = set_access ? umask(0177) : 0;
  bool const bound = Bind();
  int const bind_error = errno;
  if (set_access) umask(process_mask);
  if (!bound) return QLPosixError(name_, "Socket " + name_ + " failed to bind", bind_error);
  if (set_access) {
    mode_t const mode = path_mode_ >= 0 ? static_cast<mode_t>(path_mode_) : (0777 & ~process_mask);
    char const* const path = address_.sun_path;
    if ((path_group_ >= 0 &&
         chown(path, static_cast<uid_t>(-1), static_cast<gid_t>(path_group_)) != 0) ||
        chmod(path, mode) != 0) {
      int const error = errno;
      Close();
      return QLPosixError(
          name_, "Socket " + name_ + " failed to get its group and mode: " + QLErrnoText(error),
          error);
    }
  }
  if (!Listen()) return QLPosixError(name_, "Socket " + name_ + " failed to listen", errno);
  return QLStatus();
}

void QLProcessHelperSocket::SetPathAccess(int mode, long group) {
  path_mode_ = mode < 0 ? -1 : (mode & 0777);
  path_group_ = group < 0 ? -1 : group;
}

bool QLProcessHelperSocket::Send(unsigned char const* data, unsigned int length) {
  if (!IsValid()) return false;
  unsigned char header[4] = {
      static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
      static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
  if (!SendInternal(header, sizeof(header))) return false;
  return SendInternal(data, length);
}

bool QLProcessHelperSocket::SendInternal(unsigned char const* data, unsigned int length) {
  if (!IsValid()) return false;
  unsigned int sent = 0;
  while (sent < length) {
    int const fd = m_sock;
    if (fd == -1) return false;
    ssize_t result = send(fd, data + sent, length - sent, MSG_NOSIGNAL);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) {
      Close();
      return false;
    }
    sent += static_cast<unsigned int>(result);
  }
  return true;
}

int QLProcessHelperSocket::Receive(boost::shared_ptr<unsigned char>& message) {
  message.reset();
  receive_status_ = QLStatus();
  int const fd = m_sock;
  if (fd == -1) return -1;
  // A frame's time starts with its first byte: until then only the opt-in
  // idle limit applies (with no frame limit either, recv waits as before).
  if (!WaitReadable(fd, DeadlineIn(limits_.idle_timeout_ms), limits_.frame_timeout_ms > 0)) {
    return CloseWith(QLStatus(QLStatus::Kind::kTimedOut, name_,
                              "Closed the connection from " + PeerText() + ": idle for " +
                                  std::to_string(limits_.idle_timeout_ms) +
                                  " ms between requests."));
  }
  // The frame has begun; from here on it has frame_timeout_ms to be whole.
  Deadline const deadline = DeadlineIn(limits_.frame_timeout_ms);
  unsigned char header[4];
  std::size_t received = 0;
  ReadEnd const end = ReadExactly(header, sizeof(header), &received, deadline);
  if (end != ReadEnd::kComplete) {
    return end == ReadEnd::kTimedOut ? CloseUnfinishedFrame() : -1;
  }
  unsigned int const length = static_cast<unsigned int>(intFromByteArray(header));
  unsigned int const limit = MaxMessageLength();
  if (length > limit) {
    // Never allocate what a peer merely announces beyond the bound.
    return CloseWith(QLStatus(QLStatus::Kind::kInvalid, name_,
                              "Message length " + std::to_string(length) +
                                  " exceeds the limit of " + std::to_string(limit) +
                                  " bytes; closing the connection."));
  }
  return ReceivePayload(message, length, deadline);
}

int QLProcessHelperSocket::ReceiveInternal(boost::shared_ptr<unsigned char>& buffer,
                                           unsigned int size) {
  receive_status_ = QLStatus();
  return ReceivePayload(buffer, size, DeadlineIn(limits_.frame_timeout_ms));
}

int QLProcessHelperSocket::ReceivePayload(boost::shared_ptr<unsigned char>& buffer,
                                          unsigned int size, Deadline deadline) {
  buffer.reset();
  QLReceiveBudgetHold hold(limits_.budget.get());
  // malloc'd so that growing can extend the block in place (realloc).
  std::unique_ptr<unsigned char, FreeBytes> bytes;
  std::size_t capacity = 0;
  std::size_t received = 0;
  ReadEnd end = ReadEnd::kComplete;
  while (end == ReadEnd::kComplete) {
    if (!bytes || (received == capacity && capacity < size)) {
      // The buffer grows with what has arrived (doubling), so a peer that
      // only announces a length gets no more than the first step.
      std::size_t const next = bytes ? std::min<std::size_t>(capacity * 2, size)
                                     : std::min<std::size_t>(size, QLReceiveBudget::kFreeBytes);
      if (!hold.Cover(next)) {
        return CloseWith(QLStatus(QLStatus::Kind::kNoSpace, name_,
                                  "Closed the connection from " + PeerText() + ": its frame of " +
                                      std::to_string(size) +
                                      " bytes gets no more of the receive budget (" +
                                      std::to_string(limits_.budget->used()) + " of " +
                                      std::to_string(limits_.budget->capacity()) +
                                      " bytes held by partly received frames)."));
      }
      void* const grown = realloc(bytes.get(), next > 0 ? next : 1);
      if (grown == nullptr) {
        return CloseWith(QLPosixError(name_,
                                      "Cannot allocate " + std::to_string(next) +
                                          " bytes for a message; closing the connection.",
                                      ENOMEM));
      }
      bytes.release();
      bytes.reset(static_cast<unsigned char*>(grown));
      capacity = next;
    }
    if (received == size) break;
    std::size_t chunk = 0;
    end = ReadExactly(bytes.get() + received, capacity - received, &chunk, deadline);
    received += chunk;
  }
  switch (end) {
    case ReadEnd::kComplete:
      buffer.reset(bytes.release(), FreeBytes());
      return static_cast<int>(size);
    case ReadEnd::kPeerShutDown:
      // The part received stays with the caller.
      buffer.reset(bytes.release(), FreeBytes());
      return 0;
    case ReadEnd::kTimedOut:
      return CloseUnfinishedFrame();
    case ReadEnd::kFailed:
      break;
  }
  return -1;
}

QLProcessHelperSocket::ReadEnd QLProcessHelperSocket::ReadExactly(unsigned char* into,
                                                                  std::size_t count,
                                                                  std::size_t* received,
                                                                  Deadline deadline) {
  while (*received < count) {
    int const fd = m_sock;
    if (fd == -1) return ReadEnd::kFailed;  // closed by another thread
    if (!WaitReadable(fd, deadline)) return ReadEnd::kTimedOut;
    ssize_t result = recv(fd, into + *received, count - *received, 0);
    if (result == 0) {
      CloseWith(QLStatus(QLStatus::Kind::kClosed, name_, "The socket was orderly shutdown."));
      return ReadEnd::kPeerShutDown;
    }
    if (result < 0) {
      int const error = errno;
      if (error == EINTR) continue;
      CloseWith(QLPosixError(name_, "ReceiveInternal Error: " + std::to_string(error), error));
      return ReadEnd::kFailed;
    }
    *received += static_cast<std::size_t>(result);
  }
  return ReadEnd::kComplete;
}

int QLProcessHelperSocket::CloseUnfinishedFrame() {
  return CloseWith(QLStatus(QLStatus::Kind::kTimedOut, name_,
                            "Closed the connection from " + PeerText() + ": a frame begun " +
                                std::to_string(limits_.frame_timeout_ms) +
                                " ms ago is still not complete."));
}

int QLProcessHelperSocket::CloseWith(QLStatus status) {
  receive_status_ = std::move(status);
  Close();
  return -1;
}

std::string QLProcessHelperSocket::PeerText() const {
  if (!has_peer_) return "an unknown peer";
  return "uid " + std::to_string(peer_.uid) + " pid " + std::to_string(peer_.pid);
}

void QLProcessHelperSocket::Close() {
  std::lock_guard<std::mutex> lock(fd_mutex_);
  int const fd = m_sock.exchange(-1);
  if (fd == -1) return;
  // shutdown() first: close() alone does not wake a recv() or accept()
  // blocked on this descriptor in another thread.
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

void QLProcessHelperSocket::Shutdown() {
  std::lock_guard<std::mutex> lock(fd_mutex_);
  int const fd = m_sock;
  if (fd != -1) shutdown(fd, SHUT_RDWR);
}

bool QLProcessHelperSocket::IsValid() const { return m_sock != -1; }

void QLProcessHelperSocket::InvalidateSocket() const { m_sock = -1; }

void QLProcessHelperSocket::set_m_sock(int sock) { m_sock = sock; }

void QLProcessHelperSocket::SetMaxMessageLength(unsigned int bytes) {
  // Receive reports the length as an int.
  g_max_message_length = bytes > static_cast<unsigned int>(INT_MAX) ? INT_MAX : bytes;
}

unsigned int QLProcessHelperSocket::MaxMessageLength() { return g_max_message_length; }
