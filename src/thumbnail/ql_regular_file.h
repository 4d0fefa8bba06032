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
  };

  explicit QLRegularFile(std::string const& path);
  QLRegularFile(QLRegularFile const&) = delete;
  QLRegularFile& operator=(QLRegularFile const&) = delete;

  Outcome outcome() const { return outcome_; }
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
  QLUniqueFd fd_;
  Outcome outcome_;
  std::uint64_t size_;
  int error_;
};

// A read-only stdio stream over `path` when it is a regular file (for the
// libgd readers); null otherwise. `outcome`, when not null, says why
// (kCannotOpen also when no stream could be made).
QLUniqueFile OpenRegularFileStream(std::string const& path, QLRegularFile::Outcome* outcome);

#endif  // QUORLIN_THUMBNAIL_QL_REGULAR_FILE_H_
