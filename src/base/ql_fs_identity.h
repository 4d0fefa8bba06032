// Acting with a caller's rights on the file system, one thread at a time.
//
// A daemon running as root serves callers that are not: every file it opens,
// makes, renames or removes for a caller must be one the caller could reach
// itself, or the daemon hands out root's rights. Linux keeps a file-system
// user, group and group list per thread; the kernel then checks every path
// look-up, open, create, rename and unlink against them, whatever name the
// caller gave and however it changes meanwhile. glibc's setgroups (and
// setresuid and friends) change every thread of the process, so the system
// calls are made directly.
//
// Contract: QLActAs is a scope on one thread: made and destroyed on the same
// thread, not nested (a second one on a thread that already acts is refused
// with ok() false). It changes nothing unless the process's effective user is
// root and `who` is not: requests from root, and a daemon that is not root,
// go on as they always did. Current() tells code further down the same thread
// (a child process about to be started) whom the thread acts for.
// QLActAsProcess undoes the switch for a moment, for the daemon's own files
// (its log). Both cost a handful of system calls, none when inactive.
#ifndef QUORLIN_BASE_QL_FS_IDENTITY_H_
#define QUORLIN_BASE_QL_FS_IDENTITY_H_

#include <sys/types.h>

#include <vector>

struct QLFsCredentials {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
};

class QLActAs {
 public:
  explicit QLActAs(QLFsCredentials const& who);
  ~QLActAs();
  QLActAs(QLActAs const&) = delete;
  QLActAs& operator=(QLActAs const&) = delete;

  // False when the switch was needed but did not take: the thread is back
  // to the process's identity and nothing may be done for the caller.
  bool ok() const { return ok_; }
  // True while the thread's file-system identity is the caller's.
  bool active() const { return active_; }

  // Whom the calling thread acts for; null when it acts as the process.
  static QLFsCredentials const* Current();

 private:
  friend class QLActAsProcess;
  // Back to the process's identity: the thread's own groups as they were.
  // Should a step fail, the thread keeps less than the process's rights,
  // never more.
  void Restore() const;

  QLFsCredentials who_;
  std::vector<gid_t> own_groups_;
  bool ok_ = true;
  bool active_ = false;
};

// Acts as the process itself while alive, when the thread was acting for a
// caller, and switches back after.
class QLActAsProcess {
 public:
  QLActAsProcess();
  ~QLActAsProcess();
  QLActAsProcess(QLActAsProcess const&) = delete;
  QLActAsProcess& operator=(QLActAsProcess const&) = delete;

 private:
  QLActAs const* suspended_;
};

// Makes the calling thread's file-system identity `who`'s. Plain system
// calls, no allocation: also safe in a child between fork and exec.
bool QLSetThreadFsIdentity(QLFsCredentials const& who);

#endif  // QUORLIN_BASE_QL_FS_IDENTITY_H_
