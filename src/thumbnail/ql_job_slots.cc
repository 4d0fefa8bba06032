#include "thumbnail/ql_job_slots.h"

#include <algorithm>

QLJobSlots::QLJobSlots(unsigned int slots) : capacity_(std::max(slots, 1u)), in_use_(0), peak_(0) {}

bool QLJobSlots::Acquire(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto const free = [this] { return in_use_ < capacity_; };
  if (wait.count() <= 0) {
    freed_.wait(lock, free);
  } else if (!freed_.wait_for(lock, wait, free)) {
    return false;
  }
  ++in_use_;
  peak_ = std::max(peak_, in_use_);
  return true;
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
