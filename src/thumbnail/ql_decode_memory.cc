#include "thumbnail/ql_decode_memory.h"

#include <malloc.h>

#include <algorithm>

namespace {

// Free space at the top of the heap kept between requests, per decode that
// may run at once: what a default mode decode of a 24 MP progressive JPEG
// needs (its coefficient buffers and the canvas, about 170 MB) fits under it.
// Decodes side by side share the one heap, so when they end together its
// free top is their sum; a threshold below that gives it all back and the
// next requests fault it in again.
int const kTrimThresholdPerDecode = 256 * 1024 * 1024;
unsigned const kMaxDecodesCounted = 7;  // keeps the product within an int

}  // namespace

bool KeepDecodeMemory(unsigned decodes_at_once) {
  decodes_at_once = std::max(1u, std::min(decodes_at_once, kMaxDecodesCounted));
  int const trim_threshold = kTrimThresholdPerDecode * static_cast<int>(decodes_at_once);
  bool ok = mallopt(M_ARENA_MAX, 1) == 1;
  // No block gets a mapping of its own: glibc would unmap it on free, and a
  // mapping cannot be larger than 32 MiB to stay, while the luma coefficient
  // buffer of a progressive JPEG above 16 MP is larger. Every fresh page of a
  // mapping is a fault on the next request, and faults cost about half of
  // such a request on a virtual machine. Should the heap not grow, glibc
  // still maps as a fallback.
  ok = mallopt(M_MMAP_MAX, 0) == 1 && ok;
  ok = mallopt(M_TRIM_THRESHOLD, trim_threshold) == 1 && ok;
  return ok;
}

QLIdleMemoryTrimmer::QLIdleMemoryTrimmer(std::chrono::milliseconds idle_delay)
    : idle_delay_(idle_delay), thread_(&QLIdleMemoryTrimmer::Run, this) {}

QLIdleMemoryTrimmer::~QLIdleMemoryTrimmer() {
  {
    QLMutexLock lock(&mutex_);
    stop_ = true;
  }
  wake_.NotifyAll();
  thread_.join();
}

void QLIdleMemoryTrimmer::RequestStarted() {
  QLMutexLock lock(&mutex_);
  ++active_;
}

void QLIdleMemoryTrimmer::RequestEnded() {
  {
    QLMutexLock lock(&mutex_);
    if (active_ > 0) --active_;
    pending_ = true;
    last_end_ = std::chrono::steady_clock::now();
  }
  wake_.NotifyAll();
}

void QLIdleMemoryTrimmer::Run() {
  QLMutexLock lock(&mutex_);
  while (!stop_) {
    if (!pending_ || active_ > 0) {
      // The last request to end wakes us.
      wake_.Wait(mutex_);
      continue;
    }
    auto const due = last_end_ + idle_delay_;
    if (std::chrono::steady_clock::now() < due) {
      // A request ending meanwhile moves the deadline; the loop looks again.
      wake_.WaitUntil(mutex_, due);
      continue;
    }
    pending_ = false;
    lock.Unlock();
    malloc_trim(0);
    lock.Lock();
  }
}
