#include "thumbnail/cache/ql_cache_entry_locks.h"

QLCacheEntryLocks::Hold::Hold(QLCacheEntryLocks& table, std::string const& key,
                              std::chrono::milliseconds wait)
    : table_(table), key_(key), entry_(nullptr), held_(true) {
  {
    QLMutexLock lock(&table_.mutex_);
    std::unique_ptr<Entry>& slot = table_.entries_[key_];
    if (!slot) slot.reset(new Entry());
    ++slot->users;
    entry_ = slot.get();  // stays put: the map holds a pointer, not the entry
  }
  // Waiting happens outside the table lock, so other keys are not held up.
  if (wait.count() > 0) {
    held_ = entry_->mutex.try_lock_for(wait);
  } else {
    entry_->mutex.lock();
  }
}

QLCacheEntryLocks::Hold::~Hold() {
  if (held_) entry_->mutex.unlock();
  QLMutexLock lock(&table_.mutex_);
  if (--entry_->users == 0) table_.entries_.erase(key_);
}

std::size_t QLCacheEntryLocks::size() const {
  QLMutexLock lock(&mutex_);
  return entries_.size();
}
