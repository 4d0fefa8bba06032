#include "main/ql_service_notifier.h"

#include <stdlib.h>
#include <systemd/sd-daemon.h>

bool ServiceManagerListens() {
  char const* const socket = getenv("NOTIFY_SOCKET");
  return socket != nullptr && socket[0] != '\0';
}

bool NotifyServiceManager(std::string const& state) {
  // The variable stays set: every later state goes to the same manager.
  return ServiceManagerListens() && sd_notify(0, state.c_str()) > 0;
}

QLStatusReporter::QLStatusReporter(Source source, std::chrono::milliseconds interval)
    : source_(std::move(source)), interval_(interval) {
  if (ServiceManagerListens() && source_) thread_ = std::thread(&QLStatusReporter::Run, this);
}

QLStatusReporter::~QLStatusReporter() { Stop(); }

void QLStatusReporter::Stop() {
  {
    QLMutexLock lock(&mutex_);
    stop_ = true;
  }
  wake_.NotifyAll();
  if (thread_.joinable()) thread_.join();
}

void QLStatusReporter::Run() {
  std::string sent;
  QLMutexLock lock(&mutex_);
  while (!stop_) {
    lock.Unlock();
    std::string const status = source_();
    // An unchanged line is not repeated: the manager keeps the last one.
    if (status != sent && NotifyServiceManager("STATUS=" + status)) sent = status;
    lock.Lock();
    // Up to `interval_`, or until Stop().
    auto const next = std::chrono::steady_clock::now() + interval_;
    while (!stop_) {
      if (!wake_.WaitUntil(mutex_, next)) break;
    }
  }
}
