#include "thumbnail/ql_background_gate.h"

QLBackgroundGate::Pass::Pass(QLBackgroundGate* gate, bool background,
                             std::chrono::milliseconds wait)
    : gate_(gate), background_(background), waiting_(!background), admitted_(true) {
  QLMutexLock lock(&gate_->mutex_);
  if (!background_) {
    ++gate_->interactive_waiting_;
    return;
  }
  auto const deadline = std::chrono::steady_clock::now() + wait;
  while (gate_->interactive_waiting_ > 0 || gate_->background_inside_) {
    if (wait.count() <= 0) {
      gate_->changed_.Wait(gate_->mutex_);
    } else if (!gate_->changed_.WaitUntil(gate_->mutex_, deadline) &&
               (gate_->interactive_waiting_ > 0 || gate_->background_inside_)) {
      admitted_ = false;
      background_ = false;  // nothing to give back
      return;
    }
  }
  gate_->background_inside_ = true;
}

void QLBackgroundGate::Pass::Locked() {
  if (!waiting_) return;
  waiting_ = false;
  {
    QLMutexLock lock(&gate_->mutex_);
    --gate_->interactive_waiting_;
  }
  gate_->changed_.NotifyAll();
}

QLBackgroundGate::Pass::~Pass() {
  Locked();
  if (!background_) return;
  {
    QLMutexLock lock(&gate_->mutex_);
    gate_->background_inside_ = false;
  }
  gate_->changed_.NotifyAll();
}
