// The in-memory index of cache folders: it lists a folder once, follows the
// changes made through it, notices every change made by anyone else, keeps
// listing order and byte-wise prefix semantics, and stays within its memory
// limits. Then the same through the provider's save, including the cost of
// saving into a big folder.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "log/ql_log.h"
#include "test_support.h"
#include "thumbnail/ql_cache_folder_index.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

typedef std::vector<std::string> Names;
using qltest::Bytes;

void Touch(std::string const& path) {
  int const fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  close(fd);
}

// The folder's names in its own listing order, those beginning with `prefix`.
Names ListingOrder(std::string const& folder, std::string const& prefix) {
  Names names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (struct dirent* entry = readdir(dir)) {
    std::string const name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
  }
  closedir(dir);
  return names;
}

class CacheFolderIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.path() + "/";
    for (int i = 0; i < 120; ++i) Touch(folder_ + "other_" + std::to_string(i));
    for (int i = 0; i < 5; ++i) Touch(folder_ + "ab_1x1_0_" + std::to_string(i) + ".png");
  }

  Names Find(QLCacheFolderIndex& index, std::string const& prefix, std::string const& folder) {
    Names names;
    EXPECT_TRUE(index.FindPrefix(folder, prefix, &names));
    return names;
  }
  Names Find(QLCacheFolderIndex& index, std::string const& prefix) {
    return Find(index, prefix, folder_);
  }

  // Adds or removes one file through the index, as the cache does.
  void AddThrough(QLCacheFolderIndex& index, std::string const& name) {
    std::string const path = folder_ + name;
    EXPECT_TRUE(index.Apply(folder_, "", name, [&path] {
      int const fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
      return fd >= 0 && close(fd) == 0;
    }));
  }
  void RemoveThrough(QLCacheFolderIndex& index, std::string const& name) {
    std::string const path = folder_ + name;
    EXPECT_TRUE(index.Apply(folder_, name, "", [&path] { return unlink(path.c_str()) == 0; }));
  }

  QLTempDir temp_;
  std::string folder_;
};

TEST_F(CacheFolderIndexTest, ListsOnceWhileOnlyItChangesTheFolder) {
  QLCacheFolderIndex index;
  EXPECT_EQ(ListingOrder(folder_, "ab_1x1_0"), Find(index, "ab_1x1_0"));
  AddThrough(index, "ab_1x1_0_new.png");
  RemoveThrough(index, "ab_1x1_0_2.png");
  Names const after = Find(index, "ab_1x1_0");
  EXPECT_EQ(1u, index.listings());
  // Same set as the folder holds now, the added name last.
  Names sorted_after = after;
  Names on_disk = ListingOrder(folder_, "ab_1x1_0");
  std::sort(sorted_after.begin(), sorted_after.end());
  std::sort(on_disk.begin(), on_disk.end());
  EXPECT_EQ(on_disk, sorted_after);
  ASSERT_FALSE(after.empty());
  EXPECT_EQ("ab_1x1_0_new.png", after.back());
  EXPECT_EQ(125u, index.name_count());  // 125 + 1 - 1
}

TEST_F(CacheFolderIndexTest, ChangesByOthersAreNoticed) {
  QLCacheFolderIndex index;
  EXPECT_EQ(5u, Find(index, "ab_1x1_0").size());
  Touch(folder_ + "ab_1x1_0_foreign.png");  // another process
  Names const found = Find(index, "ab_1x1_0");
  EXPECT_EQ(6u, found.size());
  EXPECT_NE(found.end(), std::find(found.begin(), found.end(), "ab_1x1_0_foreign.png"));
  EXPECT_EQ(2u, index.listings());

  ASSERT_EQ(0, unlink((folder_ + "ab_1x1_0_3.png").c_str()));
  EXPECT_EQ(ListingOrder(folder_, "ab_1x1_0"), Find(index, "ab_1x1_0"));
  EXPECT_EQ(5u, Find(index, "ab_1x1_0").size());

  // No pause between our change and theirs: the folder time must still
  // tell them apart.
  for (int i = 0; i < 50; ++i) {
    AddThrough(index, "ab_1x1_0_ours" + std::to_string(i));
    std::string const theirs = "ab_1x1_0_theirs" + std::to_string(i);
    Touch(folder_ + theirs);
    ASSERT_EQ(Names{theirs}, Find(index, theirs)) << i;
  }
}

TEST_F(CacheFolderIndexTest, PrefixIsComparedByteByByte) {
  for (char const* name : {"ab_1x1_0junk", "ab_1x1_", "Ab_1x1_0_9.png", "xab_1x1_0", "ab_1x1_1_9"})
    Touch(folder_ + name);
  QLCacheFolderIndex index;
  Names const listed = Find(index, "ab_1x1_0");
  EXPECT_EQ(ListingOrder(folder_, "ab_1x1_0"), listed);
  EXPECT_EQ(6u, listed.size());
  EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "ab_1x1_0junk"));
  // From memory the answer is the same.
  EXPECT_EQ(listed, Find(index, "ab_1x1_0"));
  EXPECT_EQ(1u, index.listings());
  EXPECT_EQ(8u, Find(index, "ab_1x1_").size());
}

TEST_F(CacheFolderIndexTest, DirectoriesAreCandidatesForTheCallerToSkip) {
  ASSERT_EQ(0, mkdir((folder_ + "ab_1x1_0_dir").c_str(), 0755));
  QLCacheFolderIndex index;
  Names const found = Find(index, "ab_1x1_0");
  EXPECT_NE(found.end(), std::find(found.begin(), found.end(), "ab_1x1_0_dir"));
}

TEST_F(CacheFolderIndexTest, FolderThatCannotBeListedIsFalse) {
  QLCacheFolderIndex index;
  Names names{"kept"};
  EXPECT_FALSE(index.FindPrefix(folder_ + "missing/", "ab", &names));
  EXPECT_FALSE(index.FindPrefix("", "ab", &names));
  EXPECT_EQ(Names{"kept"}, names);
  EXPECT_EQ(0u, index.folder_count());
}

TEST_F(CacheFolderIndexTest, ReplacedFolderIsListedAgain) {
  std::string const inner = folder_ + "inner/";
  ASSERT_EQ(0, mkdir(inner.c_str(), 0755));
  Touch(inner + "ab_1x1_0_old");
  QLCacheFolderIndex index;
  EXPECT_EQ(Names{"ab_1x1_0_old"}, Find(index, "ab_1x1_0", inner));
  ASSERT_EQ(0, rename(inner.c_str(), (folder_ + "moved").c_str()));
  ASSERT_EQ(0, mkdir(inner.c_str(), 0755));
  Touch(inner + "ab_1x1_0_new");
  EXPECT_EQ(Names{"ab_1x1_0_new"}, Find(index, "ab_1x1_0", inner));
}

TEST_F(CacheFolderIndexTest, FailedChangeKeepsTrustThrowingChangeDropsIt) {
  QLCacheFolderIndex index;
  Find(index, "ab_1x1_0");
  EXPECT_FALSE(index.Apply(folder_, "", "ab_1x1_0_x", [] { return false; }));
  EXPECT_EQ(5u, Find(index, "ab_1x1_0").size());
  EXPECT_EQ(1u, index.listings());

  EXPECT_THROW(index.Apply(folder_, "", "ab_1x1_0_y",
                           [this]() -> bool {
                             Touch(folder_ + "ab_1x1_0_y");
                             throw std::runtime_error("half done");
                           }),
               std::runtime_error);
  EXPECT_EQ(6u, Find(index, "ab_1x1_0").size());
  EXPECT_EQ(2u, index.listings());
}

TEST_F(CacheFolderIndexTest, LeastRecentlyUsedFoldersGoFirst) {
  QLCacheFolderIndex::Limits limits;
  limits.max_folders = 2;
  QLCacheFolderIndex index(limits);
  std::string const second = folder_ + "b/";
  std::string const third = folder_ + "c/";
  ASSERT_EQ(0, mkdir(second.c_str(), 0755));
  ASSERT_EQ(0, mkdir(third.c_str(), 0755));
  Find(index, "x", folder_);
  Find(index, "x", second);
  Find(index, "x", folder_);  // the first is now the more recent
  Find(index, "x", third);    // drops the second
  EXPECT_EQ(2u, index.folder_count());
  EXPECT_EQ(3u, index.listings());
  Find(index, "x", folder_);
  EXPECT_EQ(3u, index.listings());
  Find(index, "x", second);
  EXPECT_EQ(4u, index.listings());
}

TEST_F(CacheFolderIndexTest, FolderOverTheNameBudgetIsListedEveryTime) {
  QLCacheFolderIndex::Limits limits;
  limits.max_names = 100;  // the folder holds 125
  QLCacheFolderIndex index(limits);
  for (int round = 1; round <= 3; ++round) {
    EXPECT_EQ(ListingOrder(folder_, "ab_1x1_0"), Find(index, "ab_1x1_0"));
    EXPECT_EQ(static_cast<std::uint64_t>(round), index.listings());
  }
  EXPECT_EQ(0u, index.name_count());
  EXPECT_EQ(0u, index.folder_count());
}

TEST_F(CacheFolderIndexTest, AddsBeyondTheNameBudgetDropTheFolder) {
  QLCacheFolderIndex::Limits limits;
  limits.max_names = 126;
  QLCacheFolderIndex index(limits);
  Find(index, "ab_1x1_0");
  AddThrough(index, "ab_1x1_0_a");
  EXPECT_EQ(126u, index.name_count());
  AddThrough(index, "ab_1x1_0_b");
  EXPECT_EQ(0u, index.name_count());
  EXPECT_EQ(7u, Find(index, "ab_1x1_0").size());
}

TEST_F(CacheFolderIndexTest, OldOrIdleKnowledgeIsDropped) {
  QLCacheFolderIndex::Limits limits;
  limits.max_trust_age = std::chrono::seconds(0);
  QLCacheFolderIndex aged(limits);
  Find(aged, "ab");
  Find(aged, "ab");
  EXPECT_EQ(2u, aged.listings());

  QLCacheFolderIndex::Limits idle_limits;
  idle_limits.idle_drop = std::chrono::seconds(0);
  QLCacheFolderIndex idle(idle_limits);
  std::string const second = folder_ + "b/";
  ASSERT_EQ(0, mkdir(second.c_str(), 0755));
  Find(idle, "ab", folder_);
  Find(idle, "ab", second);
  EXPECT_EQ(1u, idle.folder_count());  // only the folder in use stays
}

// The provider's save through the index.
class CacheCleanupIndexTest : public qltest::ServiceTest {
 protected:
  void SetUp() override {
    source_ = temp_.File("photo.jpg");
    qltest::WriteFile(source_, std::string("source"));
    ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  }

  // Saves for the source as modified at `when`.
  void SaveAt(std::time_t when, std::string const& folder) {
    qltest::SetMtime(source_, when);
    QLThumbnailData data;
    qltest::FillRequest(data, source_, folder);
    qltest::SetThumbnail(data, Bytes{'p', 'n', 'g'});
    provider_.SaveThumbnail(data);
  }

  std::string source_;
};

TEST_F(CacheCleanupIndexTest, RepeatedSavesIntoABigFolderListItOnce) {
  for (int i = 0; i < 3000; ++i) Touch(cache_ + "/" + std::to_string(i) + "_160x120_0_1.png");
  for (std::time_t when = 1000; when < 1010; ++when) {
    log_.Clear();
    SaveAt(when, cache_);
    if (when > 1000) {
      char previous[64];
      snprintf(previous, sizeof previous, "/ff_160x120_0_%lx.png", static_cast<long>(when - 1));
      EXPECT_TRUE(log_.Contains("Mark for deletion: " + cache_ + previous));
    }
  }
  EXPECT_EQ(1u, provider_.cache_index().listings());
  Names const left = qltest::ListFolder(cache_);
  EXPECT_EQ(3001u, left.size());
  EXPECT_NE(left.end(), std::find(left.begin(), left.end(), "ff_160x120_0_3f1.png"));
}

TEST_F(CacheCleanupIndexTest, OutdatedFilesWrittenByAnotherProcessAreRemoved) {
  SaveAt(2000, cache_);
  // Another process (or an older run) leaves outdated files behind.
  qltest::WriteFile(cache_ + "/ff_160x120_0_1.png", std::string("old"));
  qltest::WriteFile(cache_ + "/ff_160x120_0_2.png", std::string("old"));
  log_.Clear();
  SaveAt(2001, cache_);
  EXPECT_TRUE(log_.Contains("Mark for deletion: " + cache_ + "/ff_160x120_0_1.png"));
  EXPECT_TRUE(log_.Contains("Mark for deletion: " + cache_ + "/ff_160x120_0_2.png"));
  EXPECT_TRUE(log_.Contains("Mark for deletion: " + cache_ + "/ff_160x120_0_7d0.png"));
  EXPECT_EQ(Names{"ff_160x120_0_7d1.png"}, qltest::ListFolder(cache_));
}

TEST_F(CacheCleanupIndexTest, DirectoryMadeByOthersIsNeverRemoved) {
  SaveAt(2000, cache_);
  ASSERT_EQ(0, mkdir((cache_ + "/ff_160x120_0_dir").c_str(), 0755));
  log_.Clear();
  SaveAt(2001, cache_);
  EXPECT_FALSE(log_.Contains("ff_160x120_0_dir"));
  EXPECT_TRUE(qltest::Exists(cache_ + "/ff_160x120_0_dir"));
  SaveAt(2002, cache_);  // now from memory: still kept
  EXPECT_TRUE(qltest::Exists(cache_ + "/ff_160x120_0_dir"));
  EXPECT_TRUE(qltest::Exists(cache_ + "/ff_160x120_0_7d2.png"));
  EXPECT_FALSE(qltest::Exists(cache_ + "/ff_160x120_0_7d1.png"));
}

TEST_F(CacheCleanupIndexTest, FileRemovedByOthersBeforeTheSaveIsNoError) {
  SaveAt(2000, cache_);
  ASSERT_EQ(0, unlink((cache_ + "/ff_160x120_0_7d0.png").c_str()));
  log_.Clear();
  SaveAt(2001, cache_);
  EXPECT_EQ(0, log_.CountLevel("ERROR:")) << log_.text();
  EXPECT_FALSE(log_.Contains("Mark for deletion"));
  EXPECT_EQ(Names{"ff_160x120_0_7d1.png"}, qltest::ListFolder(cache_));
}

}  // namespace
