// Path confinement: what resolves inside the allowed roots once symlinks and
// ".." are resolved, folders that do not exist yet included.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/ql_temp_dir.h"
#include "thumbnail/ql_path_confinement.h"

namespace {

TEST(QLPathConfinementTest, JudgesRealPathsAgainstTheRoots) {
  QLTempDir scratch;
  std::string const root = scratch.File("root");
  std::string const outside = scratch.File("outside");
  ASSERT_EQ(0, mkdir(root.c_str(), 0700));
  ASSERT_EQ(0, mkdir(outside.c_str(), 0700));
  ASSERT_EQ(0, mkdir((root + "/photos").c_str(), 0700));
  ASSERT_TRUE(WriteFileText(root + "/photos/a.jpg", "x"));
  ASSERT_TRUE(WriteFileText(outside + "/secret.jpg", "x"));
  ASSERT_EQ(0, symlink((outside + "/secret.jpg").c_str(), (root + "/escape.jpg").c_str()));
  ASSERT_EQ(0, symlink(outside.c_str(), (root + "/out").c_str()));
  ASSERT_EQ(0, symlink((outside + "/none").c_str(), (root + "/dangling").c_str()));
  ASSERT_EQ(0, symlink((root + "/photos").c_str(), (outside + "/in").c_str()));
  // The root's own name reached through a symlink still counts as the root.
  ASSERT_EQ(0, symlink(root.c_str(), scratch.File("root_link").c_str()));

  QLPathConfinement confinement;
  std::string error;
  ASSERT_TRUE(confinement.AddRoot(scratch.File("root_link") + "/", &error)) << error;

  struct {
    std::string path;
    bool inside;
  } const cases[] = {
      {root, true},
      {root + "/photos/a.jpg", true},
      {root + "/photos/../photos/./a.jpg", true},
      {outside + "/in/a.jpg", true},       // a symlink from outside into the root
      {root + "/cache/new/deeper", true},  // folders still to be made
      {root + "/photos/", true},
      {root + "/escape.jpg", false},      // file symlink pointing out
      {root + "/out/secret.jpg", false},  // folder symlink pointing out
      {root + "/out/cache/new", false},   // to be made beyond that symlink
      {root + "/dangling/new", false},    // made through a dangling symlink
      {root + "/../outside/secret.jpg", false},
      {root + "/photos/../../outside", false},
      {root + "/new/../../outside/cache", false},  // ".." below a missing name
      {root + "x/a.jpg", false},                   // a sibling sharing the root's prefix
      {outside, false},
      {"/", false},
      {"", false},  // the working directory
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.inside, confinement.Contains(c.path)) << c.path;
  }
}

TEST(QLPathConfinementTest, UnusableRootRefusesEverythingAndNoRootAllowsAll) {
  QLTempDir scratch;
  ASSERT_TRUE(WriteFileText(scratch.File("file"), "x"));
  QLPathConfinement open;
  EXPECT_TRUE(open.Contains("/etc/passwd"));

  struct {
    std::string root;
  } const unusable[] = {{scratch.File("missing")}, {scratch.File("file")}, {""}};
  for (auto const& c : unusable) {
    QLPathConfinement confinement;
    std::string error;
    EXPECT_FALSE(confinement.AddRoot(c.root, &error)) << c.root;
    EXPECT_FALSE(error.empty()) << c.root;
    EXPECT_FALSE(confinement.Contains(scratch.File("file"))) << c.root;
  }
}

}  // namespace
