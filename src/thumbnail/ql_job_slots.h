// A counting semaphore bounding how many thumbnails are generated at once, so
// memory stays bounded by N decodes however many connections ask.
//
// Interactive requests go first: a background request (a pre-generation
// sweep) takes a slot only while no interactive request waits for one, and
// with N >= 2 background requests hold at most N-1 slots together, so one is
// always free for a person waiting on a folder view.
//
// Contract: constructed with N >= 1 slots (0 is taken as 1) and outlives
// every Slot taken from it. Any thread may take a slot; a Slot is released
// by its destructor or Release() on the thread that holds it. A Slot given a
// positive wait gives up after it (held() then tells). mutex_ guards the
// counts of slots taken and waited for, and the peak, only; no caller lock is held while waiting
// except the caller's own cache-entry lock (entry lock before slot, never
// the other way round, so the two cannot deadlock).
#ifndef QUORLIN_THUMBNAIL_QL_JOB_SLOTS_H_
#define QUORLIN_THUMBNAIL_QL_JOB_SLOTS_H_

#include <chrono>
#include <cstddef>

#include "base/ql_mutex.h"

class QLJobSlots {
 public:
  explicit QLJobSlots(unsigned int slots);
  QLJobSlots(QLJobSlots const&) = delete;
  QLJobSlots& operator=(QLJobSlots const&) = delete;

  // Holds one slot from construction until Release() or destruction. A Slot
  // made from a null QLJobSlots holds nothing (the single-lock mode).
  class Slot {
   public:
    // `wait` zero: as long as it takes.
    explicit Slot(QLJobSlots* slots, std::chrono::milliseconds wait = std::chrono::milliseconds(0),
                  bool background = false);
    ~Slot() { Release(); }
    Slot(Slot const&) = delete;
    Slot& operator=(Slot const&) = delete;
    void Release();
    // False when the wait ran out before a slot was free.
    bool held() const { return held_; }

   private:
    QLJobSlots* slots_;
    bool held_;
    bool background_;
  };

  unsigned int capacity() const { return capacity_; }
  // Slots taken right now, and the most ever taken at once (for tests).
  unsigned int in_use() const EXCLUDES(mutex_);
  unsigned int peak_in_use() const EXCLUDES(mutex_);
  // Requests waiting for a slot right now, of both kinds (for tests).
  unsigned int waiting() const EXCLUDES(mutex_);

 private:
  // False when `wait` (if positive) ran out first.
  bool Acquire(std::chrono::milliseconds wait, bool background) EXCLUDES(mutex_);
  void Give(bool background) EXCLUDES(mutex_);
  // Whether a request of that kind may take a slot now.
  bool MayTake(bool background) const REQUIRES(mutex_);

  unsigned int const capacity_;
  mutable QLMutex mutex_;
  QLCondVar freed_;
  unsigned int in_use_ GUARDED_BY(mutex_);
  unsigned int background_in_use_ GUARDED_BY(mutex_);
  unsigned int interactive_waiting_ GUARDED_BY(mutex_);
  unsigned int waiting_ GUARDED_BY(mutex_);
  unsigned int peak_ GUARDED_BY(mutex_);
};

#endif  // QUORLIN_THUMBNAIL_QL_JOB_SLOTS_H_
