#include "thumbnail/ql_regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

char const* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISDIR(mode)) return "a directory";
  return "of an unknown kind";
}

QLStatus NotRegular(std::string const& path, mode_t mode) {
  return QLStatus(QLStatus::Kind::kInvalid, path,
                  "Not reading \"" + path + "\": it is " + KindOf(mode) + ", not a regular file.");
}

}  // namespace

QLRegularFile::QLRegularFile(std::string const& path) : QLRegularFile() {
  // O_NONBLOCK: opening a named pipe for reading would otherwise wait for a
  // writer. O_NOCTTY: a terminal device must never become ours.
  Check(path, QLUniqueFd(::open(path.c_str(), kOpenFlags | O_CLOEXEC)));
}

QLRegularFile::QLRegularFile(std::string const& path, QLUniqueFd opened) : QLRegularFile() {
  Check(path, std::move(opened));
}

void QLRegularFile::Check(std::string const& path, QLUniqueFd fd) {
  if (!fd.valid()) {
    int const error = errno;
    status_ = QLPosixError(
        path, error == EXDEV ? "\"" + path + "\" leads outside the allowed folders; refused." : "",
        error);
    // A socket cannot be opened at all; say what it is all the same. Only
    // names what is there, nothing is read.
    struct stat info;
    if (error != EXDEV && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      status_ = NotRegular(path, info.st_mode);
    }
    return;
  }
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) {
    status_ = QLPosixError(path, "", errno);
    return;
  }
  if (!S_ISREG(info.st_mode)) {
    fd.Close();
    status_ = NotRegular(path, info.st_mode);
    return;
  }
  // Reads of a regular file do not block anyway, but the descriptor goes to
  // libraries that expect an ordinary one.
  int const flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    status_ = QLPosixError(path, "", errno);
    return;
  }
  fd_ = std::move(fd);
  size_ = static_cast<std::uint64_t>(info.st_size);
}

bool QLRegularFile::ReadExactly(void* out, std::size_t size) {
  unsigned char* const bytes = static_cast<unsigned char*>(out);
  std::size_t done = 0;
  while (done < size) {
    ssize_t const got = ::read(fd_.get(), bytes + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

QLUniqueFile OpenRegularFileStream(QLRegularFile& file) {
  QLUniqueFile stream(file.is_open() ? fdopen(file.fd(), "rb") : nullptr);
  if (stream) file.Release();  // the stream closes it now
  return stream;
}
