// QLMutex, QLMutexLock and QLCondVar: std::mutex, a scoped lock of it and
// std::condition_variable, with the lock annotations of
// base/ql_thread_annotations.h, so that Clang's thread-safety analysis checks
// the members a QLMutex guards. libstdc++'s own types carry no annotations.
//
// Contract: as std::mutex (not recursive; unlocked by the thread that
// locked it). A QLMutexLock is used on one thread; Unlock() and Lock() let go
// of the mutex for a while inside its scope (it unlocks at the end only when
// it holds the mutex then). QLCondVar's waits are called with the mutex held
// and return with it held, as std::condition_variable's.
#ifndef QUORLIN_BASE_QL_MUTEX_H_
#define QUORLIN_BASE_QL_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "base/ql_thread_annotations.h"

class CAPABILITY("mutex") QLMutex {
 public:
  QLMutex() = default;
  QLMutex(QLMutex const&) = delete;
  QLMutex& operator=(QLMutex const&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class QLCondVar;
  std::mutex mutex_;
};

class SCOPED_CAPABILITY QLMutexLock {
 public:
  explicit QLMutexLock(QLMutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~QLMutexLock() RELEASE() {
    if (held_) mutex_->Unlock();
  }
  QLMutexLock(QLMutexLock const&) = delete;
  QLMutexLock& operator=(QLMutexLock const&) = delete;

  void Unlock() RELEASE() {
    mutex_->Unlock();
    held_ = false;
  }
  void Lock() ACQUIRE() {
    mutex_->Lock();
    held_ = true;
  }

 private:
  QLMutex* const mutex_;
  bool held_ = true;
};

class QLCondVar {
 public:
  QLCondVar() = default;
  QLCondVar(QLCondVar const&) = delete;
  QLCondVar& operator=(QLCondVar const&) = delete;

  void Wait(QLMutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    condition_.wait(lock);
    lock.release();
  }
  // False when `deadline` passed first.
  template <typename Clock, typename Duration>
  bool WaitUntil(QLMutex& mutex, std::chrono::time_point<Clock, Duration> const& deadline)
      REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    std::cv_status const status = condition_.wait_until(lock, deadline);
    lock.release();
    return status == std::cv_status::no_timeout;
  }
  // False when `wait` ran out first.
  template <typename Rep, typename Period>
  bool WaitFor(QLMutex& mutex, std::chrono::duration<Rep, Period> const& wait) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    std::cv_status const status = condition_.wait_for(lock, wait);
    lock.release();
    return status == std::cv_status::no_timeout;
  }

  void NotifyOne() { condition_.notify_one(); }
  void NotifyAll() { condition_.notify_all(); }

 private:
  std::condition_variable condition_;
};

#endif  // QUORLIN_BASE_QL_MUTEX_H_
