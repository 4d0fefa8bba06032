// QLThreadStarter: how the socket server makes the thread that serves each
// accepted connection. The server uses Default() unless handed another, so
// that a test can make starts fail as they do when the system has no thread
// to spare, without a switch for it in the worker.
//
// Contract: Start runs `body` on a new thread and returns that thread, or
// throws boost::thread_resource_error when no thread can be made. Default()
// is stateless and any thread may use it; another starter's thread rules are
// its own (the server calls it on its accepting thread only).
#ifndef QUORLIN_IPC_QL_THREAD_STARTER_H_
#define QUORLIN_IPC_QL_THREAD_STARTER_H_

#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>
#include <functional>

class QLThreadStarter {
 public:
  virtual ~QLThreadStarter() {}

  virtual boost::thread Start(std::function<void()> const& body) = 0;

  // Plain boost::threads.
  static boost::shared_ptr<QLThreadStarter> Default();
};

#endif  // QUORLIN_IPC_QL_THREAD_STARTER_H_
