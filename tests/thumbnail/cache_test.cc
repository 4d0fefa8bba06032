// The thumbnail cache: file names, freshness by name, clean-up of outdated
// files, free-space boundary, and the failure cases that must never serve or
// leave partial bytes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.h"
#include "thumbnail/ql_thumbnail_provider.h"

using qltest::Bytes;

namespace {

const std::time_t kSourceTime = 1600000000;  // 0x5f5e1000

class CacheTest : public qltest::ServiceTest {
 protected:
  void SetUp() override {
    source_ = temp_.File("photo.jpg");
    qltest::WriteFile(source_, std::string("source bytes"));
    qltest::SetMtime(source_, kSourceTime);
  }

  void Fill(QLThumbnailData& data) { qltest::FillRequest(data, source_, cache_); }

  void Save(Bytes const& bytes, std::uint64_t id = 255, std::uint32_t width = 160,
            std::uint32_t height = 120, bool full_screen = false) {
    QLThumbnailData data;
    qltest::FillRequest(data, source_, cache_, id, width, height, full_screen);
    qltest::SetThumbnail(data, bytes);
    provider_.SaveThumbnail(data);
  }

  // A lookup for the default request; the bytes it found, or none on a miss.
  bool Lookup(Bytes* found = nullptr) {
    QLThumbnailData data;
    Fill(data);
    bool const hit = provider_.GetCachedThumbnail(data);
    EXPECT_EQ(hit, static_cast<bool>(data.thumbnail));
    if (found) *found = qltest::ThumbnailBytes(data);
    return hit;
  }

  std::string source_;
};

TEST_F(CacheTest, SaveWritesExactBytesUnderDocumentedName) {
  Bytes const png = qltest::Solid(qltest::Format::kPng, 8, 8, {1, 2, 3});
  Save(png);
  std::string const expected = cache_ + "/ff_160x120_0_5f5e1000.png";
  ASSERT_TRUE(qltest::Exists(expected)) << log_.text();
  EXPECT_EQ(png, qltest::ReadFile(expected));
  // Only the thumbnail: no temporary file is left next to it.
  EXPECT_EQ(std::vector<std::string>{"ff_160x120_0_5f5e1000.png"}, qltest::ListFolder(cache_));
}

TEST_F(CacheTest, LookupReturnsTheStoredBytesAsIsAndLogsHit) {
  Bytes const png = qltest::Solid(qltest::Format::kPng, 4, 4, {9, 9, 9});
  Save(png);
  Bytes found;
  ASSERT_TRUE(Lookup(&found));
  EXPECT_EQ(png, found);
  EXPECT_TRUE(log_.Contains("INFO: "));
  EXPECT_TRUE(log_.Contains("Sending cached thumbanil for \"" + source_ + "\"."));
  // Whatever the file holds is served.
  Bytes const odd{0, 255, 0, 1, 'n', 'o', 't', ' ', 'p', 'n', 'g'};
  qltest::WriteFile(cache_ + "/ff_160x120_0_5f5e1000.png", odd);
  ASSERT_TRUE(Lookup(&found));
  EXPECT_EQ(odd, found);
}

TEST_F(CacheTest, MissLogsNoCachedThumbnail) {
  EXPECT_FALSE(Lookup());
  EXPECT_TRUE(log_.Contains("No cached thumbnail for \"" + source_ + "\"."));
}

TEST_F(CacheTest, MissingSourceIsSilentMissAndSaveStoresNothing) {
  QLThumbnailData data;
  Fill(data);
  data.path = temp_.File("gone.jpg");
  EXPECT_FALSE(provider_.GetCachedThumbnail(data));
  EXPECT_EQ("", log_.text());

  qltest::SetThumbnail(data, Bytes{1, 2, 3});
  provider_.SaveThumbnail(data);
  EXPECT_TRUE(log_.Contains("ERROR:"));
  EXPECT_TRUE(log_.Contains("Problems when trying to obtain info from resource 255. "));
  EXPECT_FALSE(qltest::Exists(cache_));
}

TEST_F(CacheTest, ChangedSourceMissesThenReplacesOutdatedFile) {
  Save(Bytes{1});
  qltest::SetMtime(source_, kSourceTime + 1);
  EXPECT_FALSE(Lookup()) << "freshness is decided by the name";

  Save(Bytes{2});
  EXPECT_EQ(std::vector<std::string>{"ff_160x120_0_5f5e1001.png"}, qltest::ListFolder(cache_));
  EXPECT_EQ(Bytes{2}, qltest::ReadFile(cache_ + "/ff_160x120_0_5f5e1001.png"));
  EXPECT_TRUE(log_.Contains("Mark for deletion: " + cache_ + "/ff_160x120_0_5f5e1000.png"));
}

TEST_F(CacheTest, NamesCarryTheKeyAndOtherKeysAreKept) {
  Save(Bytes{1}, 255, 160, 120, false);
  Save(Bytes{2}, 255, 320, 240, false);
  Save(Bytes{3}, 255, 160, 120, true);
  Save(Bytes{4}, 15, 160, 120, false);
  Save(Bytes{5}, 255, 16, 120, false);
  Save(Bytes{7}, 0x123456789abcdefULL, 7, 9, true);  // the id in hex, whole
  qltest::SetMtime(source_, kSourceTime + 16);
  Save(Bytes{6}, 255, 160, 120, false);
  std::vector<std::string> const expected = {
      "123456789abcdef_7x9_1_5f5e1000.png", "f_160x120_0_5f5e1000.png",
      "ff_160x120_0_5f5e1010.png",          "ff_160x120_1_5f5e1000.png",
      "ff_16x120_0_5f5e1000.png",           "ff_320x240_0_5f5e1000.png"};
  EXPECT_EQ(expected, qltest::ListFolder(cache_));
}

TEST_F(CacheTest, SameResourceWithOtherPathSharesTheFile) {
  Save(Bytes{7, 7, 7});
  std::string const other = temp_.File("copy-with-other-name.mp3");
  qltest::WriteFile(other, std::string("x"));
  qltest::SetMtime(other, kSourceTime);
  QLThumbnailData data;
  Fill(data);
  data.path = other;
  ASSERT_TRUE(provider_.GetCachedThumbnail(data));
  EXPECT_EQ((Bytes{7, 7, 7}), qltest::ThumbnailBytes(data));
}

TEST_F(CacheTest, MissingFolderIsCreatedWithParents) {
  cache_ = temp_.File("a/b/c");
  Save(Bytes{1, 2});
  EXPECT_EQ(Bytes({1, 2}), qltest::ReadFile(cache_ + "/ff_160x120_0_5f5e1000.png"));
}

TEST_F(CacheTest, FolderThatIsAFileStopsTheSave) {
  qltest::WriteFile(cache_, std::string("I am a file"));
  Save(Bytes{1});
  EXPECT_TRUE(log_.Contains("Problems when trying to cleanup outdated thumbnails for \"" + source_ +
                            "\". "));
  EXPECT_EQ(Bytes({'I', ' ', 'a', 'm', ' ', 'a', ' ', 'f', 'i', 'l', 'e'}),
            qltest::ReadFile(cache_));
}

TEST_F(CacheTest, SpaceEqualToSizeSavesOneByteLessDoesNot) {
  Bytes const png = qltest::Solid(qltest::Format::kPng, 8, 8, {5, 5, 5});
  std::uintmax_t available = png.size();
  std::string queried;
  provider_.SetSpaceQuery([&](std::string const& folder) {
    queried = folder;
    return available;
  });
  Save(png);
  EXPECT_EQ(cache_ + "/", queried);
  EXPECT_TRUE(qltest::Exists(cache_ + "/ff_160x120_0_5f5e1000.png")) << log_.text();

  available = png.size() - 1;
  Save(png, 255, 320, 240);
  EXPECT_FALSE(qltest::Exists(cache_ + "/ff_320x240_0_5f5e1000.png"));
  std::string const expected = "Unable to cache thumbnail. Insufficient disk space. Require " +
                               std::to_string(png.size()) + " but availble only " +
                               std::to_string(png.size() - 1) + ". ";
  EXPECT_TRUE(log_.Contains(expected));
}

TEST_F(CacheTest, EmptyFolderLooksUpBareNameAndNeverSaves) {
  char saved_cwd[4096];
  ASSERT_NE(nullptr, getcwd(saved_cwd, sizeof(saved_cwd)));
  ASSERT_EQ(0, chdir(temp_.path().c_str()));
  cache_ = "";
  qltest::WriteFile(temp_.File("ff_160x120_0_5f5e1000.png"), Bytes{4, 2});
  Bytes found;
  bool const hit = Lookup(&found);
  ::unlink((temp_.File("ff_160x120_0_5f5e1000.png")).c_str());
  Save(Bytes{1});
  ASSERT_EQ(0, chdir(saved_cwd));

  EXPECT_TRUE(hit);
  EXPECT_EQ(Bytes({4, 2}), found);
  EXPECT_TRUE(log_.Contains("Path \"\" cannot be reached."));
  EXPECT_FALSE(qltest::Exists(temp_.File("ff_160x120_0_5f5e1000.png")));
}

TEST_F(CacheTest, EmptyFileDirectoryOrPipeIsAMiss) {
  ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  std::string const candidate = cache_ + "/ff_160x120_0_5f5e1000.png";
  qltest::WriteFile(candidate, Bytes{});
  EXPECT_FALSE(Lookup());
  ASSERT_EQ(0, unlink(candidate.c_str()));
  ASSERT_EQ(0, mkdir(candidate.c_str(), 0755));
  EXPECT_FALSE(Lookup());
  ASSERT_EQ(0, rmdir(candidate.c_str()));
  ASSERT_EQ(0, mkfifo(candidate.c_str(), 0644));
  EXPECT_FALSE(Lookup());  // at once, not waiting for a writer
  EXPECT_TRUE(log_.Contains("Cannot open saved thumbnail file for \"" + source_ +
                            "\", located in \"" + candidate + "\""));
}

TEST_F(CacheTest, ShortReadIsAMissNeverPartialBytes) {
  // A sysfs attribute reports 4096 bytes but yields only a few: the reader
  // must notice it got fewer bytes than the file claimed.
  char const* const kShortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
  struct stat info;
  if (stat(kShortFile, &info) != 0 || info.st_size <= 64) GTEST_SKIP() << "no sysfs file";
  ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  ASSERT_EQ(0, symlink(kShortFile, (cache_ + "/ff_160x120_0_5f5e1000.png").c_str()));
  EXPECT_FALSE(Lookup());
  EXPECT_TRUE(log_.Contains("ERROR:"));
}

TEST_F(CacheTest, UnreadableFileIsAMiss) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  std::string const file = cache_ + "/ff_160x120_0_5f5e1000.png";
  qltest::WriteFile(file, Bytes{1, 2, 3});
  ASSERT_EQ(0, chmod(file.c_str(), 0));
  EXPECT_FALSE(Lookup());
}

// Restores the file-size limit and SIGXFSZ disposition of the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    saved_handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, saved_handler_);
  }

 private:
  struct rlimit saved_;
  sighandler_t saved_handler_;
};

TEST_F(CacheTest, FailedWriteLeavesNoFileUnderFinalName) {
  ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  Bytes const big(4096, 0xab);
  {
    FileSizeLimit limit(100);  // the write stops after 100 bytes with EFBIG
    Save(big);
  }
  EXPECT_FALSE(qltest::Exists(cache_ + "/ff_160x120_0_5f5e1000.png"));
  EXPECT_TRUE(qltest::ListFolder(cache_).empty()) << "temporary file left behind";
  EXPECT_TRUE(log_.Contains("Problems when trying to save thumbnail for \"" + source_ + "\". "));

  EXPECT_FALSE(Lookup());
}

TEST_F(CacheTest, SaveReplacesAnExistingFileOfTheSameNameWhole) {
  ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  qltest::WriteFile(cache_ + "/ff_160x120_0_5f5e1000.png", Bytes(1000, 1));
  Save(Bytes{9, 8});
  EXPECT_EQ(Bytes({9, 8}), qltest::ReadFile(cache_ + "/ff_160x120_0_5f5e1000.png"));
}

TEST_F(CacheTest, RelativeFolderResolvesAgainstStartDirectory) {
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
  std::string const relative = "ql_cache_test_relative_" + std::to_string(getpid());
  cache_ = relative;
  Save(Bytes{3});
  std::string const absolute = std::string(cwd) + "/" + relative;
  bool const saved = qltest::Exists(absolute + "/ff_160x120_0_5f5e1000.png");
  ::unlink((absolute + "/ff_160x120_0_5f5e1000.png").c_str());
  ::rmdir(absolute.c_str());
  EXPECT_TRUE(saved) << log_.text();
}

}  // namespace
