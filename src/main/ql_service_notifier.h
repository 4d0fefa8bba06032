// Tells a supervising service manager how the process is doing, through the
// datagram socket it names in $NOTIFY_SOCKET (sd_notify): READY=1 once the
// socket serves, STOPPING=1 when a stop begins, and a STATUS= line.
//
// Contract:
//  - Without $NOTIFY_SOCKET every function here does nothing and no thread is
//    started, so a process started by hand behaves as it always did.
//  - NotifyServiceManager may be called from any thread.
//  - QLStatusReporter owns one thread that asks its source for the status
//    text and sends it when it changed, at most once per interval. The source
//    runs on that thread and must be safe to call from it. Constructed and
//    destroyed (which stops and joins the thread) by one owner thread.
#ifndef QUORLIN_MAIN_QL_SERVICE_NOTIFIER_H_
#define QUORLIN_MAIN_QL_SERVICE_NOTIFIER_H_

#include <boost/noncopyable.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "base/ql_mutex.h"

// True when a service manager listens ($NOTIFY_SOCKET is set).
bool ServiceManagerListens();

// Sends `state` ("READY=1", "STOPPING=1", "STATUS=...") to the manager; false
// when there is none or the send failed.
bool NotifyServiceManager(std::string const& state);

class QLStatusReporter : private boost::noncopyable {
 public:
  using Source = std::function<std::string()>;

  // Starts the reporting thread when a manager listens.
  QLStatusReporter(Source source, std::chrono::milliseconds interval);
  // Stops and joins the thread.
  ~QLStatusReporter();
  void Stop() EXCLUDES(mutex_);

 private:
  void Run() EXCLUDES(mutex_);

  Source source_;
  std::chrono::milliseconds const interval_;
  QLMutex mutex_;
  QLCondVar wake_;
  bool stop_ GUARDED_BY(mutex_) = false;
  std::thread thread_;
};

#endif  // QUORLIN_MAIN_QL_SERVICE_NOTIFIER_H_
