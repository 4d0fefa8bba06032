// One mutex per cache entry (folder, resource, size, mode), so that two
// requests for the same entry never race on its files while requests for
// different entries run side by side.
//
// Contract: the table outlives every Hold taken from it. Any thread may take
// a Hold; the Hold blocks until the entry's mutex is free (or, when given a
// positive wait, at most that long: held() then tells) and releases it in
// its destructor, on the same thread. Entries are reference-counted and
// erased when the last Hold (or waiter) is gone, so the table holds only keys
// in use. `mutex_` guards the table and the counts; each entry's own mutex is
// what a Hold owns. A Hold is never taken while holding a job slot.
#ifndef QUORLIN_THUMBNAIL_CACHE_QL_CACHE_ENTRY_LOCKS_H_
#define QUORLIN_THUMBNAIL_CACHE_QL_CACHE_ENTRY_LOCKS_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/ql_mutex.h"

class QLCacheEntryLocks {
  struct Entry {
    // Owned by a Hold; it guards the entry's files, not memory, and is taken
    // with a time limit, so it stays a plain std::timed_mutex.
    std::timed_mutex mutex;
    std::size_t users = 0;  // Holds and waiters; guarded by the table's mutex_
  };

 public:
  QLCacheEntryLocks() = default;
  QLCacheEntryLocks(QLCacheEntryLocks const&) = delete;
  QLCacheEntryLocks& operator=(QLCacheEntryLocks const&) = delete;

  class Hold {
   public:
    // `wait` zero: as long as it takes.
    Hold(QLCacheEntryLocks& table, std::string const& key,
         std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    ~Hold();
    Hold(Hold const&) = delete;
    Hold& operator=(Hold const&) = delete;
    // False when the wait ran out before the entry was free.
    bool held() const { return held_; }

   private:
    QLCacheEntryLocks& table_;
    std::string const key_;
    Entry* entry_;
    bool held_;
  };

  // Keys currently held or waited for (for tests).
  std::size_t size() const EXCLUDES(mutex_);

 private:
  mutable QLMutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<Entry>> entries_ GUARDED_BY(mutex_);
};

#endif  // QUORLIN_THUMBNAIL_CACHE_QL_CACHE_ENTRY_LOCKS_H_
