// The bytes that partly received request frames may hold, all connections
// together, and what one connection holds of them.
//
// A frame's buffer grows with the bytes that actually arrive; its first
// kFreeBytes come without budget (every ordinary request fits there, so a
// spent budget never stops one), every byte of buffer beyond them is taken
// from the budget before it is allocated and given back when the frame is
// complete or the connection ends. A peer that announces large frames and
// sends them slowly can thus hold no more than the budget, however many
// connections it opens.
//
// Contract: one budget is shared by every connection of a server; Take and
// Give may be called from any thread (one atomic counter). A hold belongs
// to the one thread receiving on its connection.
#ifndef QUORLIN_IPC_QL_RECEIVE_BUDGET_H_
#define QUORLIN_IPC_QL_RECEIVE_BUDGET_H_

#include <atomic>
#include <cstddef>

class QLReceiveBudget {
 public:
  // Buffer bytes of one frame that need no budget.
  static constexpr std::size_t kFreeBytes = 4096;
  // Frames of the largest size the default budget holds at once.
  static constexpr std::size_t kFramesPerBudget = 16;
  // Beyond this the budget grows only when one frame alone needs more.
  static constexpr std::size_t kMaxDefaultBudget = 64u * 1024u * 1024u;

  explicit QLReceiveBudget(std::size_t capacity) : capacity_(capacity), used_(0) {}
  QLReceiveBudget(QLReceiveBudget const&) = delete;
  QLReceiveBudget& operator=(QLReceiveBudget const&) = delete;

  // kFramesPerBudget frames of `frame_limit` bytes, at most
  // kMaxDefaultBudget, but never less than one such frame.
  static std::size_t DefaultFor(std::size_t frame_limit);

  // Takes `bytes`; false, taking nothing, when that would pass the capacity.
  bool Take(std::size_t bytes);
  void Give(std::size_t bytes);
  std::size_t used() const { return used_; }
  std::size_t capacity() const { return capacity_; }

 private:
  std::size_t const capacity_;
  std::atomic<std::size_t> used_;
};

// What one frame's buffer holds of a budget (none when the budget is null);
// gives it all back when destroyed.
class QLReceiveBudgetHold {
 public:
  explicit QLReceiveBudgetHold(QLReceiveBudget* budget) : budget_(budget) {}
  ~QLReceiveBudgetHold() { Release(); }
  QLReceiveBudgetHold(QLReceiveBudgetHold const&) = delete;
  QLReceiveBudgetHold& operator=(QLReceiveBudgetHold const&) = delete;

  // Makes the hold cover a buffer of `buffer_bytes`; false, holding what it
  // held, when the budget cannot give the difference.
  bool Cover(std::size_t buffer_bytes);
  void Release();

 private:
  QLReceiveBudget* const budget_;
  std::size_t held_ = 0;
};

#endif  // QUORLIN_IPC_QL_RECEIVE_BUDGET_H_
