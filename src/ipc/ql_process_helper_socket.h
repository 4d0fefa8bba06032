// One local (Unix-domain) stream socket and the only message format that
// crosses it: a 4-byte big-endian payload length, then the payload.
//
// The same class is the server's listening socket, each accepted connection
// and a client's connection. An object is used by one thread at a time (its
// owner), except for Shutdown() and Close(), which another thread may call
// while the owner is blocked in recv() or accept(): both wake the blocked
// call. Prefer Shutdown() there: it leaves the descriptor to the owner, who
// closes it after seeing the end, so a descriptor number is never released
// while another thread may still pass it to the kernel (where a reused number
// would reach a different file). fd_mutex_ serialises Shutdown and Close.
// Every failed or ended send or receive leaves the socket closed
// (m_sock == -1), which is how a worker sees its connection end.
// Calls interrupted by a signal (EINTR) are retried; they are not failures.
// Setting up, accepting and connecting return a status, and a receive that
// delivers no whole frame leaves one in receive_status(); none of them logs:
// the accept loop, the worker's loop or the tool connecting logs it.
// Descriptors are made close-on-exec so no child process inherits them.
// SetPathAccess is called by the owner before InitSocketServer; while it
// binds, InitSocketServer changes the process's file-creation mask for the
// moment of the bind (see there).
#ifndef QUORLIN_IPC_QL_PROCESS_HELPER_SOCKET_H_
#define QUORLIN_IPC_QL_PROCESS_HELPER_SOCKET_H_

#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

#include "base/ql_array_deleter.h"
#include "base/ql_status.h"
#include "ipc/ql_peer_filter.h"
#include "ipc/ql_receive_budget.h"

// What a server holds each accepted connection's receiving to. The defaults
// (no limit) are what a client's own connection uses.
struct QLReceiveLimits {
  // A frame whose first byte came this long ago and that is still not
  // complete ends the connection; 0: no limit.
  int frame_timeout_ms = 0;
  // A connection that sends nothing for this long between frames is
  // closed; 0: no limit.
  int idle_timeout_ms = 0;
  // Shared by all connections of the server; empty: no budget.
  boost::shared_ptr<QLReceiveBudget> budget;
};

// Reads four bytes, most significant first, as a 32-bit integer.
int intFromByteArray(unsigned char const* bytes);

class QLProcessHelperSocket {
 public:
  // Requests are small JSON texts; a peer announcing more than this is
  // treated as a receive error and nothing is allocated for it. The longest
  // valid request holds three paths of up to PATH_MAX (4096) bytes, each byte
  // possibly written as a six-byte \u escape, plus seven keys, two sizes, a
  // 64-bit id, a boolean, quotes, separators and some white space, which
  // 1024 bytes more cover with room to spare: 3 * 4096 * 6 + 1024 = 74752.
  static const unsigned int kDefaultMaxMessageLength = 3u * 4096u * 6u + 1024u;

  explicit QLProcessHelperSocket(std::string name);
  virtual ~QLProcessHelperSocket();

  bool Create();
  bool Bind();
  bool Listen() const;
  // Accepts one connection into `client` (which gets the descriptor, or -1).
  // A descriptor of 0 counts as a failure; the status keeps accept's errno.
  QLStatus Accept(boost::shared_ptr<QLProcessHelperSocket> client);
  // Connects to the server at the name, creating the socket first if needed;
  // a failed connect leaves the socket open.
  QLStatus ConnectToServer();
  // Creates, binds and listens. With path access set, the path is bound
  // under a file-creation mask of 0177 (owner only), then given its group
  // and mode, and only then listened on: it never has wider rights than asked
  // for. Failing to apply them is a failed set-up.
  QLStatus InitSocketServer();
  // Permission bits (0 to 0777) and group id for the path InitSocketServer
  // binds; a negative value leaves that part as the process gives it.
  void SetPathAccess(int mode, long group);

  // Sends one frame: the length, then the payload.
  bool Send(unsigned char const* data, unsigned int length);
  bool SendInternal(unsigned char const* data, unsigned int length);

  // Receives one frame into `message`. Returns the payload length, 0 when the
  // peer shut down during the payload (the part received is kept), or -1
  // (peer gone during the length, receive error, an announced length above
  // the bound, or a limit of SetReceiveLimits reached; the socket is then
  // closed). The payload's buffer grows with the bytes that arrive, never
  // to more than the announced length.
  int Receive(boost::shared_ptr<unsigned char>& message);
  // Why the last Receive or ReceiveInternal delivered no whole frame, for
  // its caller to log: kClosed when the peer ended the connection, kTimedOut
  // for a limit of SetReceiveLimits, kNoSpace for the receive budget or
  // memory, kInvalid for a length above the bound, the errno's kind for a
  // failed recv; ok after a whole frame, or when this side had closed the
  // socket. Read by the owner only, after the call.
  QLStatus const& receive_status() const { return receive_status_; }
  // Receives a payload of `size` bytes as Receive does after the length.
  int ReceiveInternal(boost::shared_ptr<unsigned char>& buffer, unsigned int size);
  // Limits for this connection's receiving; set by its owner before the
  // first Receive.
  void SetReceiveLimits(QLReceiveLimits const& limits) { limits_ = limits; }

  // Shuts the connection down (on a listener: wakes accept) and closes it.
  void Close();
  // Shuts the connection down without closing the descriptor; the owner's
  // blocked or next recv/accept/send then fails and the owner closes it.
  void Shutdown();
  bool IsValid() const;
  void InvalidateSocket() const;
  void set_m_sock(int sock);
  int m_sock_value() const { return m_sock; }
  // The credentials the kernel recorded for the peer of an accepted
  // connection (read once by Accept); has_peer() is false when it could not
  // tell them, or on a socket that was not accepted.
  bool has_peer() const { return has_peer_; }
  QLPeerCredentials const& peer() const { return peer_; }
  // "uid U pid P" of the peer, for log lines.
  std::string PeerText() const;
  std::string const& name() const { return name_; }

  // Upper bound on an announced payload length, process-wide (capped at
  // INT_MAX, the largest length Receive can report). Any thread may call.
  static void SetMaxMessageLength(unsigned int bytes);
  static unsigned int MaxMessageLength();

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  enum class ReadEnd { kComplete, kPeerShutDown, kFailed, kTimedOut };
  // Reads until `count` bytes are in `into` (*received counts them); waits
  // for each byte no later than `deadline` (max(): as long as it takes).
  // Every end but kComplete and kTimedOut leaves the socket closed.
  ReadEnd ReadExactly(unsigned char* into, std::size_t count, std::size_t* received,
                      Deadline deadline);
  int ReceivePayload(boost::shared_ptr<unsigned char>& buffer, unsigned int size,
                     Deadline deadline);
  // The status of a frame past frame_timeout_ms, then Close; returns -1.
  int CloseUnfinishedFrame();
  // Sets receive_status_ to `status`, then Close; returns -1.
  int CloseWith(QLStatus status);

  mutable std::atomic<int> m_sock;
  std::mutex fd_mutex_;  // held by Shutdown and Close around their use of m_sock
  struct sockaddr_un address_;
  std::string name_;
  int path_mode_ = -1;
  long path_group_ = -1;
  bool has_peer_ = false;
  QLPeerCredentials peer_;   // written by Accept before the socket has another user
  QLReceiveLimits limits_;   // set by the owner before its first Receive
  QLStatus receive_status_;  // written and read by the owner only
};

#endif  // QUORLIN_IPC_QL_PROCESS_HELPER_SOCKET_H_
