// A cache folder on a file system that is full (no blocks, or no inodes):
// the daemon still answers every request with the right thumbnail, and the
// cache never holds a truncated or temporary file, also when concurrent
// saves race for the last free page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "process/load_harness.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

class LoadDiskFullTest : public LiveDaemonTest {
 protected:
  void TearDown() override {
    LiveDaemonTest::TearDown();
    if (mounted_) umount2(mount_.path().c_str(), MNT_DETACH);
  }

  // Mounts a small tmpfs on a fresh folder; skips when that is not allowed.
  void MountSmallFileSystem(std::string const& options) {
    if (mount("tmpfs", mount_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) !=
        0) {
      GTEST_SKIP() << "cannot mount a tmpfs (" << strerror(errno) << "); needs root";
    }
    mounted_ = true;
    cache_ = mount_.File("cache");
    ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  }

  // Writes to `path` until the file system refuses; returns the bytes written.
  static long FillUp(std::string const& path) {
    int const fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return -1;
    std::string const block(4096, 'f');
    long written = 0;
    for (;;) {
      ssize_t const put = write(fd, block.data(), block.size());
      if (put <= 0) break;
      written += put;
    }
    close(fd);
    return written;
  }

  // Leaves exactly `pages` free pages by resizing the filler file.
  void LeaveFreePages(long pages) {
    struct statvfs info;
    ASSERT_EQ(0, statvfs(mount_.path().c_str(), &info));
    long const page = static_cast<long>(info.f_frsize);
    long const free_now = static_cast<long>(info.f_bavail);
    struct stat filler;
    ASSERT_EQ(0, stat(filler_.c_str(), &filler));
    long const size = static_cast<long>(filler.st_size) + (free_now - pages) * page;
    ASSERT_GE(size, 0);
    ASSERT_EQ(0, truncate(filler_.c_str(), size)) << strerror(errno);
    ASSERT_EQ(0, statvfs(mount_.path().c_str(), &info));
    ASSERT_EQ(pages, static_cast<long>(info.f_bavail));
  }

  // Asks for a fresh thumbnail of every kind at once (one connection per
  // kind, so the saves race); every reply must be the reference.
  void AskEveryKindAtOnce() {
    std::vector<std::thread> clients;
    std::vector<std::string> errors(9);
    for (int i = 0; i < 9; ++i) {
      SourceKind const kind = kAllSourceKinds[i];
      std::uint64_t const id = next_id_++;
      kind_of_id_[id] = kind;
      clients.emplace_back([this, kind, id, &errors, i] {
        LoadConnection connection;
        std::string reply;
        if (!connection.Ask(corpus_.Request(kind, id, cache_), &reply, ReplyTimeoutMs())) {
          errors[i] = std::string("no reply for ") + SourceKindName(kind);
        } else if (reply != corpus_.Reference(kind)) {
          errors[i] = std::string("wrong reply for ") + SourceKindName(kind);
        }
      });
    }
    for (std::thread& client : clients) client.join();
    for (std::string const& error : errors) EXPECT_EQ("", error);
  }

  // Every file in the cache is the complete thumbnail of its resource;
  // returns how many there are.
  int CheckCacheFiles() {
    int count = 0;
    for (std::string const& file : FilesIn(cache_)) {
      std::string const name = file.substr(file.rfind('/') + 1);
      char* end = nullptr;
      std::uint64_t const id = std::strtoull(name.c_str(), &end, 16);
      std::map<std::uint64_t, SourceKind>::const_iterator kind = kind_of_id_.find(id);
      if (end == name.c_str() || *end != '_' || kind == kind_of_id_.end()) {
        ADD_FAILURE() << "stray file in the cache: " << name;
        continue;
      }
      EXPECT_EQ(corpus_.Reference(kind->second), ReadFileText(file))
          << "truncated or foreign cache file " << name;
      ++count;
    }
    return count;
  }

  QLTempDir mount_;
  bool mounted_ = false;
  std::string cache_;
  std::string filler_;
  std::uint64_t next_id_ = 7000000;
  std::map<std::uint64_t, SourceKind> kind_of_id_;
};

TEST_F(LoadDiskFullTest, FullDiskStillServesThumbnailsAndKeepsNoTruncatedFile) {
  MountSmallFileSystem("size=256k");
  if (IsSkipped() || HasFatalFailure()) return;
  StartServing({"-l", "2"});
  if (HasFatalFailure()) return;
  filler_ = mount_.File("filler");
  ASSERT_GT(FillUp(filler_), 0);

  // From no room at all up to room for a few thumbnails: with one or two
  // pages, concurrent saves race for the last of them.
  for (long pages : {0L, 1L, 2L, 3L, 5L}) {
    SCOPED_TRACE("free pages " + std::to_string(pages));
    LeaveFreePages(pages);
    if (HasFatalFailure()) return;
    for (int round = 0; round < Scaled(3, 1, 10); ++round) AskEveryKindAtOnce();
    int const cached = CheckCacheFiles();
    if (pages == 0) {
      EXPECT_EQ(0, cached) << "nothing fits on a full disk";
    }
  }

  // With room again, the next miss is cached whole.
  ASSERT_EQ(0, unlink(filler_.c_str()));
  int const before = CheckCacheFiles();
  AskEveryKindAtOnce();
  EXPECT_GT(CheckCacheFiles(), before) << "the cache works again once there is room";
  EXPECT_TRUE(daemon_->running());
}

TEST_F(LoadDiskFullTest, NoFreeInodeStillServesThumbnailsAndLeavesNoFile) {
  MountSmallFileSystem("size=1m,nr_inodes=32");
  if (IsSkipped() || HasFatalFailure()) return;
  StartServing({"-l", "2"});
  if (HasFatalFailure()) return;
  // Use up every inode with empty files.
  int made = 0;
  for (; made < 1000; ++made) {
    int const fd = open(mount_.File("empty" + std::to_string(made)).c_str(),
                        O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) break;
    close(fd);
  }
  ASSERT_LT(made, 1000) << "the inode limit was not reached";

  for (int round = 0; round < Scaled(3, 1, 10); ++round) AskEveryKindAtOnce();
  EXPECT_EQ(0, CheckCacheFiles());
  EXPECT_TRUE(daemon_->running());
}

}  // namespace
}  // namespace load
