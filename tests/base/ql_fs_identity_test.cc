// Acting for a caller on one thread, and for the process again in between:
// what the kernel then lets the thread open, and that the thread's own groups
// come back. Needs root (skips otherwise).
#include "base/ql_fs_identity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// Whether the thread may make a file in `folder` (root's, mode 0700).
bool CanCreate(std::string const& folder) {
  std::string const path = folder + "/f";
  int const fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  close(fd);
  unlink(path.c_str());
  return true;
}

std::vector<gid_t> ThreadGroups() {
  std::vector<gid_t> groups(64);
  long const count = syscall(SYS_getgroups, groups.size(), groups.data());
  groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  return groups;
}

TEST(QLFsIdentityTest, ActsForTheCallerUntilTheScopeEndsAndForTheProcessInBetween) {
  if (geteuid() != 0) GTEST_SKIP() << "acting for another user needs root";
  char folder_name[] = "/tmp/ql_identity_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder_name));  // root's, 0700
  std::string const folder = folder_name;
  gid_t const own[] = {4242};
  ASSERT_EQ(0, syscall(SYS_setgroups, 1, own));  // this thread's groups only
  {
    QLActAs const acting(QLFsCredentials{54321, 54321, {54322}});
    ASSERT_TRUE(acting.ok() && acting.active());
    EXPECT_EQ(std::vector<gid_t>{54322}, ThreadGroups());
    EXPECT_FALSE(CanCreate(folder)) << "the caller may not write there";
    {
      QLActAsProcess const as_process;  // the daemon's own files, its log
      EXPECT_EQ(nullptr, QLActAs::Current());
      EXPECT_TRUE(CanCreate(folder));
    }
    ASSERT_NE(nullptr, QLActAs::Current());
    EXPECT_EQ(54321u, QLActAs::Current()->uid);
    EXPECT_FALSE(CanCreate(folder)) << "back to the caller";
    QLActAs const nested(QLFsCredentials{54323, 54323, {}});
    EXPECT_FALSE(nested.ok()) << "one caller at a time";
  }
  EXPECT_EQ(nullptr, QLActAs::Current());
  EXPECT_TRUE(CanCreate(folder));
  EXPECT_EQ(std::vector<gid_t>(own, own + 1), ThreadGroups());
  rmdir(folder_name);
}

}  // namespace
