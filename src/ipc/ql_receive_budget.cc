#include "ipc/ql_receive_budget.h"

#include <algorithm>

std::size_t QLReceiveBudget::DefaultFor(std::size_t frame_limit) {
  std::size_t const frames = frame_limit > kMaxDefaultBudget / kFramesPerBudget
                                 ? kMaxDefaultBudget
                                 : frame_limit * kFramesPerBudget;
  return std::max(frames, frame_limit);
}

bool QLReceiveBudget::Take(std::size_t bytes) {
  std::size_t used = used_.load();
  do {
    if (bytes > capacity_ || used > capacity_ - bytes) return false;
  } while (!used_.compare_exchange_weak(used, used + bytes));
  return true;
}

void QLReceiveBudget::Give(std::size_t bytes) { used_ -= bytes; }

bool QLReceiveBudgetHold::Cover(std::size_t buffer_bytes) {
  if (budget_ == nullptr) return true;
  std::size_t const wanted =
      buffer_bytes > QLReceiveBudget::kFreeBytes ? buffer_bytes - QLReceiveBudget::kFreeBytes : 0;
  if (wanted <= held_) return true;
  if (!budget_->Take(wanted - held_)) return false;
  held_ = wanted;
  return true;
}

void QLReceiveBudgetHold::Release() {
  if (budget_ != nullptr && held_ > 0) budget_->Give(held_);
  held_ = 0;
}
