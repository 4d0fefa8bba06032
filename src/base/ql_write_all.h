// Writing a whole buffer to a file descriptor: write() may take less than it
// is given (a full pipe, a signal), so callers that must not lose bytes loop.
//
// Stateless; any thread may call it on a descriptor it alone writes to.
#ifndef QUORLIN_BASE_QL_WRITE_ALL_H_
#define QUORLIN_BASE_QL_WRITE_ALL_H_

#include <cstdint>

// Writes all `size` bytes, retrying after EINTR. False on any other error,
// with errno as write() left it; the bytes written before it stay written.
bool WriteAll(int fd, void const* bytes, std::uint64_t size);

#endif  // QUORLIN_BASE_QL_WRITE_ALL_H_
