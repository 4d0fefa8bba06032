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
#ifndef QUORLIN_IPC_QL_PROCESS_SOCKET_SERVER_H_
#define QUORLIN_IPC_QL_PROCESS_SOCKET_SERVER_H_

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <cstddef>
#include <map>
#include <string>

#include "ipc/ql_abstract_helper.h"
#include "ipc/ql_process_helper_socket.h"
#include "main/ql_service.h"

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

 private:
  boost::shared_ptr<QLAbstractHelper> helper_;
  std::string socket_name_;
  QLProcessHelperSocket socket_;
  std::atomic<bool> stop_;
  std::atomic<std::size_t> abandoned_;
  std::map<int, boost::shared_ptr<QLProcessWorker>> workers_;
  mutable boost::recursive_mutex mutex_;  // guards workers_
};

#endif  // QUORLIN_IPC_QL_PROCESS_SOCKET_SERVER_H_
