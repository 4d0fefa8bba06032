#include "thumbnail/ql_job_slots.h"

#include <algorithm>

QLJobSlots::QLJobSlots(unsigned int slots)
    : capacity_(std::max(slots, 1u)),
      in_use_(0),
      background_in_use_(0),
      interactive_waiting_(0),
      waiting_(0),
      peak_(0) {}

bool QLJobSlots::MayTake(bool background) const {
  if (in_use_ >= capacity_) return false;
  if (!background) return true;
  if (interactive_waiting_ > 0) return false;
  return capacity_ < 2 || background_in_use_ < capacity_ - 1;
}

bool QLJobSlots::Acquire(std::chrono::milliseconds wait, bool background) {
  QLMutexLock lock(&mutex_);
  if (!background) ++interactive_waiting_;
  ++waiting_;
  bool taken = true;
  if (wait.count() <= 0) {
    while (!MayTake(background)) freed_.Wait(mutex_);
  } else {
    auto const deadline = std::chrono::steady_clock::now() + wait;
    while (!MayTake(background)) {
      // A slot freed just as the wait ran out still counts.
      if (!freed_.WaitUntil(mutex_, deadline) && !MayTake(background)) {
        taken = false;
        break;
      }
    }
  }
  if (!background) --interactive_waiting_;
  --waiting_;
  if (!taken) {
    // A background request may have waited only for this one.
    freed_.NotifyAll();
    return false;
  }
  ++in_use_;
  if (background) ++background_in_use_;
  peak_ = std::max(peak_, in_use_);
  return true;
}

void QLJobSlots::Give(bool background) {
  {
    QLMutexLock lock(&mutex_);
    --in_use_;
    if (background) --background_in_use_;
  }
  // Waiters of both kinds wait on one condition with different rules: each
  // looks again, and the one whose rule now allows it goes.
  freed_.NotifyAll();
}

unsigned int QLJobSlots::in_use() const {
  QLMutexLock lock(&mutex_);
  return in_use_;
}

unsigned int QLJobSlots::waiting() const {
  QLMutexLock lock(&mutex_);
  return waiting_;
}

unsigned int QLJobSlots::peak_in_use() const {
  QLMutexLock lock(&mutex_);
  return peak_;
}

QLJobSlots::Slot::Slot(QLJobSlots* slots, std::chrono::milliseconds wait, bool background)
    : slots_(slots), held_(true), background_(background) {
  if (slots_ && !slots_->Acquire(wait, background)) {
    slots_ = nullptr;
    held_ = false;
  }
}

void QLJobSlots::Slot::Release() {
  if (slots_) slots_->Give(background_);
  slots_ = nullptr;
}
