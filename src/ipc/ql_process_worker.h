// QLProcessWorker: one accepted connection and the thread that serves it.
//
// Contract:
//  - Always owned through boost::shared_ptr (the server's worker table, and
//    RunLoop itself while it runs). Start() must be called through an owner
//    that outlives the call.
//  - RunLoop receives one frame at a time and hands each whole one (an empty
//    frame included; not one its peer cut short) to the shared helper
//    (a std::exception escaping the helper is logged and ends only this
//    connection);
//    it logs why a receive delivered no whole frame (the socket's status,
//    at most one line a second of each kind);
//    when the connection ends it removes itself from the server registered
//    under QLProcessHelperSocketServerService::kName. It holds its own
//    reference for its whole run, so the object outlives every stop, also a
//    StopServer called from inside this worker's ProcessCommand. When that
//    reference is the last one, the worker is destroyed on its own thread and
//    the thread detaches itself.
//  - Start (not on the worker's own thread) and Stop may be called from any
//    thread; thread_mutex_ guards the thread object between them and is never
//    held while waiting for the thread. The stop flag is atomic.
#ifndef QUORLIN_IPC_QL_PROCESS_WORKER_H_
#define QUORLIN_IPC_QL_PROCESS_WORKER_H_

#include <atomic>
#include <boost/chrono/system_clocks.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>

#include "base/ql_mutex.h"
#include "ipc/ql_abstract_helper.h"
#include "ipc/ql_process_helper_socket.h"
#include "ipc/ql_thread_starter.h"

class QLProcessWorker : public boost::enable_shared_from_this<QLProcessWorker>,
                        private boost::noncopyable {
 public:
  QLProcessWorker(boost::shared_ptr<QLProcessHelperSocket> socket,
                  boost::shared_ptr<QLAbstractHelper> helper, int number);
  ~QLProcessWorker();

  // Starts the thread running RunLoop through `threads`. Throws
  // boost::thread_resource_error when no thread can be made; the worker is
  // then left not started.
  void Start(QLThreadStarter& threads) EXCLUDES(thread_mutex_);
  // Sets the stop flag, shuts the connection down (which ends a blocked
  // receive; the worker's thread then closes it) and waits for the thread
  // unless called on that thread. When two threads stop the same worker at
  // once, only one of them waits.
  void Stop() EXCLUDES(thread_mutex_);
  // Stop, but waits for the thread only until `deadline`. True when the
  // thread has ended (or is the calling thread, or never started); false
  // when it still runs then, typically stuck in a read the kernel never
  // finishes: the thread is then detached and keeps this worker alive
  // through its own reference for as long as it runs.
  bool StopBy(boost::chrono::steady_clock::time_point deadline) EXCLUDES(thread_mutex_);
  // The first half of Stop: sets the stop flag and shuts the connection
  // down, without waiting. Any thread may call it.
  void RequestStop();
  // The thread body.
  void RunLoop();

  int number() const { return number_; }

 private:
  // RequestStop, then takes the thread out for the one caller that waits;
  // an empty thread when there is nothing to wait for.
  boost::thread RequestStopAndTakeThread() EXCLUDES(thread_mutex_);

  boost::shared_ptr<QLProcessHelperSocket> socket_;
  boost::shared_ptr<QLAbstractHelper> helper_;
  std::atomic<bool> stop_;
  int const number_;
  QLMutex thread_mutex_;
  boost::thread thread_ GUARDED_BY(thread_mutex_);
};

#endif  // QUORLIN_IPC_QL_PROCESS_WORKER_H_
