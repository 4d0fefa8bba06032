// QLProcessHelperSocketServerService: owns the listening socket, accepts
// connections on the thread that calls StartServer and gives each one a
// QLProcessWorker with its own thread.
//
// Contract:
//  - Owned through boost::shared_ptr; registered under kName so the stop
//    sequence and ending workers find it. Workers look the server up there,
//    so a server whose workers should remove themselves must be registered.
//  - StartServer runs the accept loop on the calling thread until StopServer.
//    StopServer, RemoveWorker and WorkerCount may be called from any thread,
//    StopServer also from a worker's own thread (it then does not wait for
//    that thread).
//  - mutex_ (recursive) guards workers_. It is held while a worker is
//    inserted and started, and never while StopServer waits for a worker
//    thread, because each ending worker takes it in RemoveWorker.
//  - The stop flag and the abandoned count are atomic. The helper is shared
//    by all workers.
//  - UseListeningSocket, SetPeerFilter, SetSocketPathAccess,
//    SetListeningCallback, SetReceiveLimits, SetMaxPeerConnections and
//    SetThreadStarter are called before StartServer, on its thread.
//  - mutex_ also guards the per-user connection counts, which are taken as
//    a worker is added and given back as it is removed.
//  - The accept loop is where the listening socket's failures (setting up,
//    accepting while resources are short) are logged, once each; the socket
//    itself only returns them.
#ifndef QUORLIN_IPC_QL_PROCESS_SOCKET_SERVER_H_
#define QUORLIN_IPC_QL_PROCESS_SOCKET_SERVER_H_

#include <sys/types.h>

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <cstddef>
#include <functional>
#include <map>
#include <string>

#include "ipc/ql_abstract_helper.h"
#include "ipc/ql_peer_filter.h"
#include "ipc/ql_process_helper_socket.h"
#include "ipc/ql_thread_starter.h"
#include "service/ql_service.h"

class QLProcessWorker;

class QLProcessHelperSocketServerService : public QLService {
 public:
  static const std::string kName;

  QLProcessHelperSocketServerService(std::string const& socket_name,
                                     boost::shared_ptr<QLAbstractHelper> helper);
  // Closes the listening socket if still open; does not stop workers.
  ~QLProcessHelperSocketServerService() override;

  // The helper's own InitHelper result.
  bool InitHelper();
  // Sets up the listening socket and accepts until stopped; returns at once
  // when the socket cannot be set up.
  void StartServer();
  // Stop flag, listening socket shut down (StartServer closes it as it
  // returns), every worker stopped in ascending number (joined unless it is
  // the calling thread), then the table emptied. The workers together get
  // kWorkerStopWaitMs to end; those still running then (stuck in a read the
  // kernel does not give up) are named in one ERROR line and left behind,
  // detached, so the stop always ends.
  void StopServer();
  // Workers left running by StopServer. While any is, the process must end
  // without destroying what they use (see quorlin_gd_main.cc).
  std::size_t AbandonedWorkers() const { return abandoned_; }

  // How long a stop waits for the workers all together: a worker ends as
  // soon as its current request is done, which takes well under a second
  // but for the largest pictures on the device; one still busy after two
  // seconds is taken to be stuck.
  static constexpr int kWorkerStopWaitMs = 2000;
  // Takes the worker out of the table; empty when it is not there.
  boost::shared_ptr<QLProcessWorker> RemoveWorker(int number);
  // Number of workers in the table.
  std::size_t WorkerCount() const;

  // Serve this already listening descriptor (ownership passes) instead of
  // binding the socket name.
  void UseListeningSocket(int fd);
  // Connections from peers the filter does not allow are closed as soon as
  // they are accepted, with one ERROR line; nothing of them is read.
  void SetPeerFilter(QLPeerFilter const& filter);
  // Mode and group of the socket path the server binds (see
  // QLProcessHelperSocket::SetPathAccess).
  void SetSocketPathAccess(int mode, long group);
  // Called once on the accepting thread when the socket listens, before the
  // first accept.
  void SetListeningCallback(std::function<void()> callback);

  // Connections one user (other than root) may have open at once. Each is a
  // thread, and the shipped unit allows the service 256 tasks: 32 lets seven
  // users hold all they may beside each other and still leaves room for
  // root's connections, the process's own threads and decoder children.
  static constexpr std::size_t kDefaultMaxPeerConnections = 32;
  // A frame begun this long ago and not yet complete ends its connection: a
  // request is a few hundred bytes written at once, so only a stalled or
  // hostile peer comes near it.
  static constexpr int kDefaultFrameTimeoutMs = 5000;
  // Limits for every accepted connection's receiving. Without a budget in
  // them, StartServer makes one of QLReceiveBudget::DefaultFor the frame
  // bound. Defaults: kDefaultFrameTimeoutMs, no idle limit.
  void SetReceiveLimits(QLReceiveLimits const& limits);
  // 0: no cap. A connection over it is closed as soon as it is accepted,
  // with one ERROR line (at most one a second); it costs no thread.
  void SetMaxPeerConnections(std::size_t connections);
  // What makes the workers' threads (QLThreadStarter::Default() unless set).
  void SetThreadStarter(boost::shared_ptr<QLThreadStarter> const& threads);

 private:
  // Closes `client` (one ERROR line) unless the peer filter allows its peer.
  bool PeerAllowed(QLProcessHelperSocket& client) const;
  // Counts the connection for its user, or closes it (throttled ERROR line)
  // when that user is at the cap. Called with mutex_ held.
  bool TakePeerSlot(QLProcessHelperSocket& client, int number);
  // Gives back the slot of worker `number`. Called with mutex_ held.
  void GivePeerSlot(int number);

  boost::shared_ptr<QLAbstractHelper> helper_;
  std::string socket_name_;
  QLProcessHelperSocket socket_;
  std::atomic<bool> stop_;
  std::atomic<std::size_t> abandoned_;
  bool adopted_socket_ = false;
  QLPeerFilter peer_filter_;
  std::function<void()> on_listening_;
  QLReceiveLimits receive_limits_;
  std::size_t max_peer_connections_ = kDefaultMaxPeerConnections;
  boost::shared_ptr<QLThreadStarter> thread_starter_ = QLThreadStarter::Default();
  std::map<int, boost::shared_ptr<QLProcessWorker>> workers_;
  std::map<int, uid_t> worker_users_;  // the user counted for each worker
  std::map<uid_t, std::size_t> user_connections_;
  mutable boost::recursive_mutex mutex_;  // guards the three maps above
};

#endif  // QUORLIN_IPC_QL_PROCESS_SOCKET_SERVER_H_
