// Keeps one kind of ERROR line to at most one per interval, so a flood of
// refused or timed-out connections cannot fill the log's disk; the line that
// is written says how many of its kind were held back since the last one.
//
// Contract: any thread may call Allow (a mutex guards the state).
#ifndef QUORLIN_IPC_QL_LOG_THROTTLE_H_
#define QUORLIN_IPC_QL_LOG_THROTTLE_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "base/ql_mutex.h"

class QLLogThrottle {
 public:
  explicit QLLogThrottle(std::chrono::milliseconds interval = std::chrono::seconds(1))
      : interval_(interval) {}

  // True when a line may be written now; `note` then gets " (N more like
  // it since the last one)" when lines were held back, else "".
  bool Allow(std::string* note) EXCLUDES(mutex_);

 private:
  std::chrono::milliseconds const interval_;
  QLMutex mutex_;
  bool written_ GUARDED_BY(mutex_) = false;
  std::chrono::steady_clock::time_point last_ GUARDED_BY(mutex_);
  std::uint64_t held_back_ GUARDED_BY(mutex_) = 0;
};

#endif  // QUORLIN_IPC_QL_LOG_THROTTLE_H_
