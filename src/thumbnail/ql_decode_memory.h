// Keeping the memory a thumbnail is decoded into mapped from one request to
// the next, and giving it back once the daemon has been idle a while.
//
// glibc hands freed memory back to the kernel as soon as the free space at
// the top of a heap passes a small threshold, and serves large blocks with
// mmap/munmap. A decode frees its whole canvas at the end of every request,
// so the next request faults the same amount in again and the kernel zeroes
// every page of it: on a warm daemon that costs about as much as the decode.
// KeepDecodeMemory() raises the trim threshold and serves every block from the
// heap so freed memory stays there, and puts every thread on one heap
// (arena): glibc's malloc_trim gives back the free space inside any heap but
// the top of a thread's own heap only in the main one. QLIdleMemoryTrimmer
// then calls malloc_trim(0) once the daemon has served nothing for its idle
// delay, so an idle daemon holds what it held before the requests came.
//
// Contract: KeepDecodeMemory() changes process-wide allocator settings; call
// it once, on the main thread, before the workers start. A trimmer owns one
// thread from construction until its destructor stops and joins it.
// RequestStarted/RequestEnded may be called from any thread; every RequestStarted must be
// followed by one RequestEnded (QLServingRequest does both).
#ifndef QUORLIN_THUMBNAIL_QL_DECODE_MEMORY_H_
#define QUORLIN_THUMBNAIL_QL_DECODE_MEMORY_H_

#include <boost/noncopyable.hpp>
#include <chrono>
#include <thread>

#include "base/ql_mutex.h"

// The allocator settings above, for `decodes_at_once` decodes side by side
// (the job count; 0 counts as 1); false when glibc refused one of them.
bool KeepDecodeMemory(unsigned decodes_at_once);

class QLIdleMemoryTrimmer : private boost::noncopyable {
 public:
  explicit QLIdleMemoryTrimmer(std::chrono::milliseconds idle_delay);
  ~QLIdleMemoryTrimmer();

  void RequestStarted() EXCLUDES(mutex_);
  void RequestEnded() EXCLUDES(mutex_);

 private:
  void Run() EXCLUDES(mutex_);

  std::chrono::milliseconds const idle_delay_;
  QLMutex mutex_;
  QLCondVar wake_;
  unsigned active_ GUARDED_BY(mutex_) = 0;   // requests being served
  bool pending_ GUARDED_BY(mutex_) = false;  // a request ended since the last trim
  std::chrono::steady_clock::time_point last_end_ GUARDED_BY(mutex_);
  bool stop_ GUARDED_BY(mutex_) = false;
  std::thread thread_;
};

// Marks one request as being served for its lifetime; `trimmer` may be null.
class QLServingRequest : private boost::noncopyable {
 public:
  explicit QLServingRequest(QLIdleMemoryTrimmer* trimmer) : trimmer_(trimmer) {
    if (trimmer_) trimmer_->RequestStarted();
  }
  ~QLServingRequest() {
    if (trimmer_) trimmer_->RequestEnded();
  }

 private:
  QLIdleMemoryTrimmer* const trimmer_;
};

#endif  // QUORLIN_THUMBNAIL_QL_DECODE_MEMORY_H_
