#include "ql_daemon_connection.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

#include "base/ql_status.h"
#include "ipc/ql_process_helper_socket.h"
#include "log/ql_log.h"
#include "protocol/ql_thumbnail_format.h"

bool LooksLikeThumbnail(unsigned char const* bytes, std::size_t size) {
  QLThumbnailFormat format;
  return SniffThumbnailFormat(bytes, size, &format);
}

void QLDaemonConnection::SetReplyLimit() {
  QLProcessHelperSocket::SetMaxMessageLength(kMaxReplyBytes);
}

QLDaemonConnection::QLDaemonConnection() = default;
QLDaemonConnection::~QLDaemonConnection() = default;

bool QLDaemonConnection::Connect(std::string const& socket_path, unsigned int timeout_seconds) {
  socket_.reset(new QLProcessHelperSocket(socket_path));
  QLStatus const connected = socket_->ConnectToServer();
  if (!connected.ok()) {
    QL_ERROR(connected.ToString());
    socket_.reset();
    errno = connected.error();  // the caller names the errno in its own message
    return false;
  }
  struct timeval timeout = {static_cast<time_t>(timeout_seconds), 0};
  setsockopt(socket_->m_sock_value(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(socket_->m_sock_value(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  return true;
}

bool QLDaemonConnection::connected() const { return socket_ && socket_->IsValid(); }

QLDaemonReply QLDaemonConnection::Ask(std::string const& body,
                                      boost::shared_ptr<unsigned char>* bytes, int* length) {
  if (!connected()) return QLDaemonReply::kNoReply;
  if (!socket_->Send(reinterpret_cast<unsigned char const*>(body.data()),
                     static_cast<unsigned int>(body.size()))) {
    socket_.reset();
    return QLDaemonReply::kNoReply;
  }
  boost::shared_ptr<unsigned char> reply;
  int const size = socket_->Receive(reply);
  if (size <= 0 || !reply) {
    socket_.reset();
    return QLDaemonReply::kNoReply;
  }
  if (bytes) *bytes = reply;
  if (length) *length = size;
  if (size == 1 && reply.get()[0] == 0) return QLDaemonReply::kNoThumbnail;
  if (!LooksLikeThumbnail(reply.get(), static_cast<std::size_t>(size)))
    return QLDaemonReply::kNotPicture;
  return QLDaemonReply::kThumbnail;
}
