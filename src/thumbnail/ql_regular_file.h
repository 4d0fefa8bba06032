// Opening a file for reading only when it is a regular file.
//
// Every file the thumbnail service reads (a request's source file, an MP3
// handed to libid3tag, a default picture, a cached thumbnail) names a path
// that anyone who can write into a share controls. A named pipe there blocks
// open() and read() until some writer comes, a device never ends, a socket
// cannot be read at all; one such file would hold a worker, and with it the
// provider lock, for good. So the file is opened without blocking, the
// descriptor itself is checked with fstat (the object read is the object
// checked: no race between a check by path and the open), and only a regular
// file is kept, switched back to blocking mode for the read. Anything else
// is closed at once; its status names the path and what it is, and callers
// treat it like a file that cannot be opened. Nothing here logs: whoever
// serves the request reports the status (QLRequestFiles hands the ones that
// matter to the record, whose command handler logs them).
//
// Contract: QLRegularFile owns its descriptor (O_CLOEXEC) until it is
// destroyed or Release() hands it over. Used by one thread at a time; any
// thread may make one. Nothing here keeps state between files.
#ifndef QUORLIN_THUMBNAIL_QL_REGULAR_FILE_H_
#define QUORLIN_THUMBNAIL_QL_REGULAR_FILE_H_

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ql_c_resource.h"
#include "base/ql_status.h"
#include "base/ql_unique_fd.h"

class QLRegularFile {
 public:
  enum Outcome {
    kOpened,      // a regular file, open for reading
    kCannotOpen,  // open() failed; error() holds its errno; nothing logged
    kNotRegular,  // not a regular file (closed if it opened), one ERROR line logged
    kRefused,     // the path leads out of the allowed folders, one ERROR line logged
  };

  // The flags every file read is opened with (close-on-exec added).
  static constexpr int kOpenFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK;

  explicit QLRegularFile(std::string const& path);
  // Checks `opened`, a descriptor of `path` opened with kOpenFlags; an
  // invalid one is an open that failed, with errno still telling why (EXDEV:
  // refused).
  QLRegularFile(std::string const& path, QLUniqueFd opened);
  QLRegularFile(QLRegularFile&&) = default;
  QLRegularFile(QLRegularFile const&) = delete;
  QLRegularFile& operator=(QLRegularFile const&) = delete;

  // Ok when open; otherwise kInvalid for a file that is not a regular one
  // ("Not reading ..."), kRefused for a path leading outside the allowed
  // folders, or the failed open's errno.
  QLStatus const& status() const { return status_; }
  // Whether the failure is one the request reports as it is (a special file,
  // a refused path): the caller adds no line of its own.
  bool reported() const {
    return status_.kind() == QLStatus::Kind::kInvalid || status_.kind() == QLStatus::Kind::kRefused;
  }
  bool is_open() const { return fd_.valid(); }
  // The descriptor, or -1 when not open (or released).
  int fd() const { return fd_.get(); }
  // The size fstat reported when the file was checked.
  std::uint64_t size() const { return size_; }
  // Reads exactly `size` bytes from the current offset; false on a read
  // error or when the file ends first.
  bool ReadExactly(void* out, std::size_t size);
  // Gives the descriptor to the caller, who closes it from then on.
  int Release() { return fd_.Release(); }

 private:
  QLRegularFile() : size_(0) {}
  void Check(std::string const& path, QLUniqueFd opened);

  QLUniqueFd fd_;
  QLStatus status_;
  std::uint64_t size_;
};

// A read-only stdio stream over `file` when it is open (for the libgd
// readers), which then owns the descriptor; null otherwise.
QLUniqueFile OpenRegularFileStream(QLRegularFile& file);

#endif  // QUORLIN_THUMBNAIL_QL_REGULAR_FILE_H_
