// Keeps background requests out of the way of interactive ones where all
// requests take turns on the one provider lock (no --jobs).
//
// A background request passes the gate only while no interactive request
// waits for the lock, and only one background request at a time waits at
// or holds the lock; the rest wait at the gate. So an interactive request
// finds at most one background request ahead of it: the one already being
// made, or at most one other that reached the lock first.
//
// Contract: outlives every Pass made from it; any thread may make a Pass,
// which it keeps for as long as it holds or waits for the provider lock
// and destroys on the same thread. mutex_ guards both counts; it is never
// held while the provider lock is waited for.
#ifndef QUORLIN_THUMBNAIL_QL_BACKGROUND_GATE_H_
#define QUORLIN_THUMBNAIL_QL_BACKGROUND_GATE_H_

#include <chrono>

#include "base/ql_mutex.h"

class QLBackgroundGate {
 public:
  QLBackgroundGate() = default;
  QLBackgroundGate(QLBackgroundGate const&) = delete;
  QLBackgroundGate& operator=(QLBackgroundGate const&) = delete;

  // Made before the provider lock is asked for. An interactive Pass counts
  // its request as waiting until Locked(); a background Pass first waits
  // for its turn, as long as it takes when `wait` is zero, else at most
  // `wait` (admitted() then tells).
  class Pass {
   public:
    Pass(QLBackgroundGate* gate, bool background, std::chrono::milliseconds wait);
    ~Pass();
    Pass(Pass const&) = delete;
    Pass& operator=(Pass const&) = delete;
    // The request holds the provider lock (or gave up waiting for it).
    void Locked();
    bool admitted() const { return admitted_; }

   private:
    QLBackgroundGate* gate_;
    bool background_;
    bool waiting_;
    bool admitted_;
  };

 private:
  QLMutex mutex_;
  QLCondVar changed_;
  unsigned int interactive_waiting_ GUARDED_BY(mutex_) = 0;
  bool background_inside_ GUARDED_BY(mutex_) = false;
};

#endif  // QUORLIN_THUMBNAIL_QL_BACKGROUND_GATE_H_
