#include "thumbnail/ql_decode_memory.h"

#include <malloc.h>

namespace {

// Blocks up to this size come from the heap, not from their own mapping:
// the largest glibc accepts, above the row buffers and PNG output of any
// thumbnail. Larger blocks (whole-picture buffers of very large
// progressive JPEGs) are still mapped and unmapped one by one.
int const kMmapThreshold = 32 * 1024 * 1024;
// Free space at the top of the heap kept between requests: what a default
// mode decode of a 20 MP photo needs (about 90 MB) fits under it.
int const kTrimThreshold = 128 * 1024 * 1024;

}  // namespace

bool KeepDecodeMemory() {
  bool ok = mallopt(M_ARENA_MAX, 1) == 1;
  ok = mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 1 && ok;
  ok = mallopt(M_TRIM_THRESHOLD, kTrimThreshold) == 1 && ok;
  return ok;
}

QLIdleMemoryTrimmer::QLIdleMemoryTrimmer(std::chrono::milliseconds idle_delay)
    : idle_delay_(idle_delay), thread_(&QLIdleMemoryTrimmer::Run, this) {}

QLIdleMemoryTrimmer::~QLIdleMemoryTrimmer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void QLIdleMemoryTrimmer::RequestStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++active_;
}

void QLIdleMemoryTrimmer::RequestEnded() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_ > 0) --active_;
    pending_ = true;
    last_end_ = std::chrono::steady_clock::now();
  }
  wake_.notify_all();
}

void QLIdleMemoryTrimmer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (!pending_ || active_ > 0) {
      // The last request to end wakes us.
      wake_.wait(lock);
      continue;
    }
    auto const due = last_end_ + idle_delay_;
    if (std::chrono::steady_clock::now() < due) {
      // A request ending meanwhile moves the deadline; the loop looks again.
      wake_.wait_until(lock, due);
      continue;
    }
    pending_ = false;
    lock.unlock();
    malloc_trim(0);
    lock.lock();
  }
}
