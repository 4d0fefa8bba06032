#include "thumbnail/ql_job_slots.h"

#include <algorithm>

QLJobSlots::QLJobSlots(unsigned int slots) : capacity_(std::max(slots, 1u)), in_use_(0), peak_(0) {}

bool QLJobSlots::Acquire(std::chrono::milliseconds wait) {
  QLMutexLock lock(&mutex_);
  if (wait.count() <= 0) {
    while (in_use_ >= capacity_) freed_.Wait(mutex_);
  } else {
    auto const deadline = std::chrono::steady_clock::now() + wait;
    while (in_use_ >= capacity_) {
      // A slot freed just as the wait ran out still counts.
      if (!freed_.WaitUntil(mutex_, deadline) && in_use_ >= capacity_) return false;
    }
  }
  ++in_use_;
  peak_ = std::max(peak_, in_use_);
  return true;
}

void QLJobSlots::Give() {
  {
    QLMutexLock lock(&mutex_);
    --in_use_;
  }
  freed_.NotifyOne();
}

unsigned int QLJobSlots::in_use() const {
  QLMutexLock lock(&mutex_);
  return in_use_;
}

unsigned int QLJobSlots::peak_in_use() const {
  QLMutexLock lock(&mutex_);
  return peak_;
}

QLJobSlots::Slot::Slot(QLJobSlots* slots, std::chrono::milliseconds wait)
    : slots_(slots), held_(true) {
  if (slots_ && !slots_->Acquire(wait)) {
    slots_ = nullptr;
    held_ = false;
  }
}

void QLJobSlots::Slot::Release() {
  if (slots_) slots_->Give();
  slots_ = nullptr;
}
