#include "base/ql_unique_fd.h"

#include <unistd.h>

QLUniqueFd& QLUniqueFd::operator=(QLUniqueFd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

bool QLUniqueFd::Close() {
  if (fd_ < 0) return true;
  int const result = close(fd_);
  fd_ = -1;
  return result == 0;
}

int QLUniqueFd::Release() {
  int const fd = fd_;
  fd_ = -1;
  return fd;
}
