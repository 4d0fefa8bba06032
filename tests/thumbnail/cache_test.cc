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

TEST_F(CacheTest, ChangedSourceMissesThenReplacesOutdatedFile) {
  Save(Bytes{1});
  qltest::SetMtime(source_, kSourceTime + 1);
  EXPECT_FALSE(Lookup()) << "freshness is decided by the name";

  Save(Bytes{2});
  EXPECT_EQ(std::vector<std::string>{"ff_160x120_0_5f5e1001.png"}, qltest::ListFolder(cache_));
  EXPECT_EQ(Bytes{2}, qltest::ReadFile(cache_ + "/ff_160x120_0_5f5e1001.png"));
  EXPECT_TRUE(log_.Contains("Mark for deletion: " + cache_ + "/ff_160x120_0_5f5e1000.png"));
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

}  // namespace
