#include "ipc/ql_process_helper_socket.h"

#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <new>

#include "log/ql_log.h"

namespace {

// The full size of the local address structure; bind, connect and accept
// always pass it whole.
const socklen_t kAddressLength = sizeof(struct sockaddr_un);
static_assert(sizeof(struct sockaddr_un) == 110, "local address size");

const int kListenBacklog = 50;
// Room in sun_path for the name; the byte after it always stays zero.
const size_t kMaxPathLength = 107;

std::atomic<unsigned int> g_max_message_length(QLProcessHelperSocket::kDefaultMaxMessageLength);

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

bool QLProcessHelperSocket::Accept(boost::shared_ptr<QLProcessHelperSocket> client) {
  if (!client) return false;
  struct sockaddr_un peer;
  socklen_t length = kAddressLength;
  int fd =
      ::accept4(m_sock.load(), reinterpret_cast<struct sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  client->set_m_sock(fd);
  if (fd <= 0) return false;
  // Whoever acts for the connection later needs to know whose it is.
  client->has_peer_ = ReadPeerCredentials(fd, &client->peer_);
  return true;
}

bool QLProcessHelperSocket::ConnectToServer() {
  if (!IsValid() && !Create()) {
    QL_ERROR("Create Error: " << strerror(errno));
    return false;
  }
  int result;
  do {
    result = ::connect(m_sock.load(), reinterpret_cast<struct sockaddr const*>(&address_),
                       kAddressLength);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  int const error = errno;
  QL_ERROR("Connect to (" << address_.sun_path << ") Error: " << error);
  return false;
}

bool QLProcessHelperSocket::InitSocketServer() {
  if (!Create()) {
    QL_ERROR("Socket " << name_ << " failed to create");
    return false;
  }
  unlink(name_.c_str());
  bool const set_access = path_mode_ >= 0 || path_group_ >= 0;
  // umask is process-wide; at start-up no other thread creates files.
  mode_t const process_mask = set_access ? umask(0177) : 0;
  bool const bound = Bind();
  if (set_access) umask(process_mask);
  if (!bound) {
    QL_ERROR("Socket " << name_ << " failed to bind");
    return false;
  }
  if (set_access) {
    mode_t const mode = path_mode_ >= 0 ? static_cast<mode_t>(path_mode_) : (0777 & ~process_mask);
    char const* const path = address_.sun_path;
    if ((path_group_ >= 0 &&
         chown(path, static_cast<uid_t>(-1), static_cast<gid_t>(path_group_)) != 0) ||
        chmod(path, mode) != 0) {
      int const error = errno;
      QL_ERROR("Socket " << name_ << " failed to get its group and mode: " << strerror(error));
      Close();
      return false;
    }
  }
  if (!Listen()) {
    QL_ERROR("Socket " << name_ << " failed to listen");
    return false;
  }
  return true;
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
  if (!IsValid()) return -1;
  boost::shared_ptr<unsigned char> header;
  if (ReceiveInternal(header, 4) != 4) return -1;
  unsigned int const length = static_cast<unsigned int>(intFromByteArray(header.get()));
  unsigned int const limit = MaxMessageLength();
  if (length > limit) {
    // Never allocate what a peer merely announces beyond the bound.
    QL_ERROR("Message length " << length << " exceeds the limit of " << limit
                               << " bytes; closing the connection.");
    Close();
    return -1;
  }
  return ReceiveInternal(message, length);
}

int QLProcessHelperSocket::ReceiveInternal(boost::shared_ptr<unsigned char>& buffer,
                                           unsigned int size) {
  unsigned char* bytes = new (std::nothrow) unsigned char[size];
  if (bytes == NULL) {
    QL_ERROR("Cannot allocate " << size << " bytes for a message; closing the connection.");
    buffer.reset();
    Close();
    return -1;
  }
  buffer.reset(bytes, arrayDeleter<unsigned char>());
  unsigned int received = 0;
  while (received < size) {
    int const fd = m_sock;
    if (fd == -1) return -1;  // closed by another thread
    ssize_t result = recv(fd, bytes + received, size - received, 0);
    if (result == 0) {
      QL_DEBUG("The socket was orderly shutdown.");
      Close();
      return 0;
    }
    if (result < 0) {
      int const error = errno;
      if (error == EINTR) continue;
      QL_ERROR("ReceiveInternal Error: " << error);
      Close();
      return -1;
    }
    received += static_cast<unsigned int>(result);
  }
  return static_cast<int>(size);
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
