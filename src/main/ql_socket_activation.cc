#include "main/ql_socket_activation.h"

#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include "log/ql_log.h"

QLActivation TakeActivatedSocket(int* fd) {
  int const count = sd_listen_fds(1);
  if (count == 0) return QLActivation::kNone;
  if (count < 0) {
    QL_ERROR("Cannot take the sockets passed by the service manager (error " << -count << ").");
    return QLActivation::kUnusable;
  }
  int const first = SD_LISTEN_FDS_START;
  // Only one socket is served; any further ones would only leak.
  for (int extra = first + 1; extra < first + count; ++extra) close(extra);
  if (count > 1) {
    QL_WARN("The service manager passed " << count << " sockets; serving only the first.");
  }
  if (sd_is_socket_unix(first, SOCK_STREAM, 1, nullptr, 0) <= 0) {
    QL_ERROR("The socket passed by the service manager is not a listening local stream socket.");
    close(first);
    return QLActivation::kUnusable;
  }
  *fd = first;
  return QLActivation::kListening;
}
