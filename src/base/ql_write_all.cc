#include "base/ql_write_all.h"

#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, void const* bytes, std::uint64_t size) {
  unsigned char const* next = static_cast<unsigned char const*>(bytes);
  while (size > 0) {
    ssize_t const written = write(fd, next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += written;
    size -= static_cast<std::uint64_t>(written);
  }
  return true;
}
