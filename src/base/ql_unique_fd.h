// QLUniqueFd: the one owner of a file descriptor, closing it on every way out.
//
// Contract: move-only; the holder owns the descriptor it was given (a
// negative value means none) until Close(), Release() or its destruction.
// Not thread-safe: one thread uses a holder at a time.
#ifndef QUORLIN_BASE_QL_UNIQUE_FD_H_
#define QUORLIN_BASE_QL_UNIQUE_FD_H_

class QLUniqueFd {
 public:
  explicit QLUniqueFd(int fd = -1) : fd_(fd) {}
  ~QLUniqueFd() { Close(); }
  QLUniqueFd(QLUniqueFd&& other) noexcept : fd_(other.Release()) {}
  QLUniqueFd& operator=(QLUniqueFd&& other) noexcept;
  QLUniqueFd(QLUniqueFd const&) = delete;
  QLUniqueFd& operator=(QLUniqueFd const&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Closes the descriptor now. False when close() reports an error, which
  // for a written file means its data may not have landed; true when there
  // was nothing to close.
  bool Close();

  // Gives the descriptor up without closing it.
  int Release();

 private:
  int fd_;
};

#endif  // QUORLIN_BASE_QL_UNIQUE_FD_H_
