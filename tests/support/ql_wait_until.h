// WaitUntil: polls a condition every millisecond up to a time-out.
#ifndef QUORLIN_TESTS_SUPPORT_QL_WAIT_UNTIL_H_
#define QUORLIN_TESTS_SUPPORT_QL_WAIT_UNTIL_H_

#include <chrono>
#include <thread>

template <typename Condition>
bool WaitUntil(Condition condition, int timeout_ms) {
  std::chrono::steady_clock::time_point const end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

#endif  // QUORLIN_TESTS_SUPPORT_QL_WAIT_UNTIL_H_
