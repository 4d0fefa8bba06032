#include "thumbnail/ql_job_slots.h"

#include <algorithm>

QLJobSlots::QLJobSlots(unsigned int slots) : capacity_(std::max(slots, 1u)), in_use_(0), peak_(0) {}

void QLJobSlots::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  freed_.wait(lock, [this] { return in_use_ < capacity_; });
  ++in_use_;
  peak_ = std::max(peak_, in_use_);
}

void QLJobSlots::Give() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    --in_use_;
  }
  freed_.notify_one();
}

unsigned int QLJobSlots::in_use() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return in_use_;
}

unsigned int QLJobSlots::peak_in_use() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peak_;
}

QLJobSlots::Slot::Slot(QLJobSlots* slots) : slots_(slots) {
  if (slots_) slots_->Acquire();
}

void QLJobSlots::Slot::Release() {
  if (slots_) slots_->Give();
  slots_ = nullptr;
}
