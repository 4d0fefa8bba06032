// QLStatus: how a low-level file, cache or socket operation ended, as a
// value. The operation does not log; it hands the status up, and the one
// boundary that decides what a failure means for the request or the server
// (the command handler, the accept loop, a worker's loop) writes the one log
// line, ToString().
//
// A status holds a kind to act and test on, the errno it came from (0 when
// none), where it happened (the file, folder or socket concerned) and what
// the log says of it: a sentence the failing operation words, since it alone
// knows what it was doing, or, when it gives none, "where: <errno's text>".
// QLPosixError is the one place an errno becomes a kind and a text.
//
// Contract: a plain value, copied freely; no shared state, any thread.
#ifndef QUORLIN_BASE_QL_STATUS_H_
#define QUORLIN_BASE_QL_STATUS_H_

#include <string>

class QLStatus {
 public:
  enum class Kind {
    kOk,
    kNotFound,  // the file or folder is not there (ENOENT, ENOTDIR)
    kNoAccess,  // not allowed, or read-only (EACCES, EPERM, EROFS)
    kNoSpace,   // no room, quota or file-size limit (ENOSPC, EDQUOT, EFBIG, ENOMEM)
    kInvalid,   // there, but not what it must be: a special file, a symlink, bad data
    kRefused,   // the path leads outside the allowed folders (EXDEV)
    kTimedOut,  // a peer kept a limit waiting
    kClosed,    // the peer ended the connection in order: an end, not a fault
    kIo,        // any other failure of the system or the peer; the last kind
  };

  QLStatus() = default;  // ok
  QLStatus(Kind kind, std::string where, std::string what, int error = 0);

  bool ok() const { return kind_ == Kind::kOk; }
  Kind kind() const { return kind_; }
  int error() const { return error_; }
  std::string const& where() const { return where_; }
  std::string const& what() const { return what_; }
  // The log text: what; "OK" for an ok status.
  std::string ToString() const;

 private:
  Kind kind_ = Kind::kOk;
  int error_ = 0;
  std::string where_;
  std::string what_;
};

// A failed system call's status: the kind its errno `error` stands for, and
// `what` as the text, or "`where`: <errno's text>" when `what` is empty.
QLStatus QLPosixError(std::string const& where, std::string const& what, int error);

// The text of an errno (strerror, safe on any thread).
std::string QLErrnoText(int error);

#endif  // QUORLIN_BASE_QL_STATUS_H_
