#include "base/ql_status.h"

#include <errno.h>
#include <string.h>

#include <utility>

namespace {

QLStatus::Kind KindOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return QLStatus::Kind::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return QLStatus::Kind::kNoAccess;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case ENOMEM:
      return QLStatus::Kind::kNoSpace;
    case ELOOP:
    case EISDIR:
    case ENAMETOOLONG:
    case EINVAL:
      return QLStatus::Kind::kInvalid;
    case EXDEV:  // how the path confinement refuses a path leading out
      return QLStatus::Kind::kRefused;
    case ETIMEDOUT:
      return QLStatus::Kind::kTimedOut;
    default:
      return QLStatus::Kind::kIo;
  }
}

}  // namespace

QLStatus::QLStatus(Kind kind, std::string where, std::string what, int error)
    : kind_(kind), error_(error), where_(std::move(where)), what_(std::move(what)) {}

std::string QLStatus::ToString() const { return ok() ? "OK" : what_; }

QLStatus QLPosixError(std::string const& where, std::string const& what, int error) {
  return QLStatus(KindOf(error), where, what.empty() ? where + ": " + QLErrnoText(error) : what,
                  error);
}

std::string QLErrnoText(int error) {
  char buffer[256];
  // The GNU strerror_r: returns the text, in `buffer` or a static string.
  return strerror_r(error, buffer, sizeof buffer);
}
