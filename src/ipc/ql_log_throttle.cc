#include "ipc/ql_log_throttle.h"

bool QLLogThrottle::Allow(std::string* note) {
  std::chrono::steady_clock::time_point const now = std::chrono::steady_clock::now();
  QLMutexLock lock(&mutex_);
  if (written_ && now - last_ < interval_) {
    ++held_back_;
    return false;
  }
  note->clear();
  if (held_back_ > 0) {
    *note = " (" + std::to_string(held_back_) + " more like it since the last one)";
  }
  written_ = true;
  last_ = now;
  held_back_ = 0;
  return true;
}
