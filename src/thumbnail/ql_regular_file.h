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
// is closed at once and logged as one ERROR line naming the path and what it
// is; callers treat it like a file that cannot be opened.
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
  // refused, one ERROR line).
  QLRegularFile(std::string const& path, QLUniqueFd opened);
  QLRegularFile(QLRegularFile&&) = default;
  QLRegularFile(QLRegularFile const&) = delete;
  QLRegularFile& operator=(QLRegularFile const&) = delete;

  Outcome outcome() const { return outcome_; }
  // Whether a failure has had its ERROR line already.
  bool reported() const { return outcome_ == kNotRegular || outcome_ == kRefused; }
  bool is_open() const { return fd_.valid(); }
  // The descriptor, or -1 when not open (or released).
  int fd() const { return fd_.get(); }
  // The size fstat reported when the file was checked.
  std::uint64_t size() const { return size_; }
  // errno of a failed open (kCannotOpen); 0 otherwise.
  int error() const { return error_; }
  // Reads exactly `size` bytes from the current offset; false on a read
  // error or when the file ends first.
  bool ReadExactly(void* out, std::size_t size);
  // Gives the descriptor to the caller, who closes it from then on.
  int Release() { return fd_.Release(); }

 private:
  QLRegularFile() : outcome_(kCannotOpen), size_(0), error_(0) {}
  void Check(std::string const& path, QLUniqueFd opened);

  QLUniqueFd fd_;
  Outcome outcome_;
  std::uint64_t size_;
  int error_;
};

// A read-only stdio stream over `file` when it is open (for the libgd
// readers), which then owns the descriptor; null otherwise.
QLUniqueFile OpenRegularFileStream(QLRegularFile& file);

#endif  // QUORLIN_THUMBNAIL_QL_REGULAR_FILE_H_
