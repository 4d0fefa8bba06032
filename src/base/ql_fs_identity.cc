#include "base/ql_fs_identity.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

thread_local QLActAs const* t_acting = nullptr;

long SetGroups(std::size_t count, gid_t const* groups) {
  return syscall(SYS_setgroups, count, groups);
}

// setfsuid and setfsgid report the previous value, never an error; asking
// for -1 changes nothing and reports the current one.
bool SetFsUid(uid_t uid) {
  syscall(SYS_setfsuid, uid);
  return static_cast<uid_t>(syscall(SYS_setfsuid, static_cast<uid_t>(-1))) == uid;
}

bool SetFsGid(gid_t gid) {
  syscall(SYS_setfsgid, gid);
  return static_cast<gid_t>(syscall(SYS_setfsgid, static_cast<gid_t>(-1))) == gid;
}

// The groups of the calling thread.
std::vector<gid_t> ThreadGroups() {
  long const count = syscall(SYS_getgroups, 0, nullptr);
  std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
  if (count > 0 && syscall(SYS_getgroups, count, groups.data()) != count) groups.clear();
  return groups;
}

}  // namespace

bool QLSetThreadFsIdentity(QLFsCredentials const& who) {
  // Groups and group while still root, the user last: once it is not root
  // the thread could no longer set them.
  return SetGroups(who.groups.size(), who.groups.data()) == 0 && SetFsGid(who.gid) &&
         SetFsUid(who.uid);
}

QLActAs::QLActAs(QLFsCredentials const& who) : who_(who) {
  if (geteuid() != 0 || who.uid == 0) return;
  if (t_acting != nullptr) {
    ok_ = false;
    return;
  }
  own_groups_ = ThreadGroups();
  if (!QLSetThreadFsIdentity(who_)) {
    Restore();
    ok_ = false;
    return;
  }
  active_ = true;
  t_acting = this;
}

QLActAs::~QLActAs() {
  if (!active_) return;
  Restore();
  t_acting = nullptr;
}

void QLActAs::Restore() const {
  // The user first: as root again, the thread may set its groups.
  SetFsUid(geteuid());
  SetFsGid(getegid());
  SetGroups(own_groups_.size(), own_groups_.data());
}

QLFsCredentials const* QLActAs::Current() { return t_acting ? &t_acting->who_ : nullptr; }

QLActAsProcess::QLActAsProcess() : suspended_(t_acting) {
  if (suspended_ == nullptr) return;
  suspended_->Restore();
  t_acting = nullptr;
}

QLActAsProcess::~QLActAsProcess() {
  if (suspended_ == nullptr) return;
  // Should the groups not come back, the caller's user at least must: the
  // request's remaining accesses may never run as root.
  if (!QLSetThreadFsIdentity(suspended_->who_)) SetFsUid(suspended_->who_.uid);
  t_acting = suspended_;
}
