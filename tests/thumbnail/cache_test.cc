// The thumbnail cache and its folder index: a failed write that must leave
// nothing, a failed save that must not fail the reply, one generation for
// many parallel requests of one entry, the provider lock's wait, and the
// index's memory limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/ql_unique_fd.h"
#include "protocol/ql_thumbnail_request.h"
#include "support/ql_socket_pair.h"
#include "thumbnail/cache/ql_cache_entry_locks.h"
#include "thumbnail/cache/ql_cache_folder_index.h"
#include "thumbnail/cache/ql_full_folder_reports.h"
#include "thumbnail/ql_gd_helper.h"
#include "thumbnail_fixture.h"

namespace {

using qltest::Bytes;
typedef std::vector<std::string> Names;

std::time_t const kSourceTime = 1600000000;  // 0x5f5e1000

class CacheTest : public qltest::ServiceTest {
 protected:
  void SetUp() override {
    Write("photo.jpg", Bytes{'x'});
    qltest::SetMtime(data_.path, kSourceTime);
    data_.resource_id = 255;
    data_.width = 160;
    data_.height = 120;
  }

  QLStatus Save(Bytes const& bytes) {
    boost::shared_ptr<unsigned char> copy(new unsigned char[bytes.size()],
                                          [](unsigned char* p) { delete[] p; });
    std::copy(bytes.begin(), bytes.end(), copy.get());
    data_.thumbnail = copy;
    data_.thumbnail_size = static_cast<std::int64_t>(bytes.size());
    return provider_.SaveThumbnail(data_);
  }
};

TEST_F(CacheTest, FailedWriteLeavesNoFileUnderFinalName) {
  ASSERT_EQ(0, mkdir(cache_.c_str(), 0755));
  struct rlimit saved, limit;
  getrlimit(RLIMIT_FSIZE, &saved);
  limit = saved;
  limit.rlim_cur = 100;  // the write stops after 100 bytes with EFBIG
  sighandler_t const handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  QLStatus const failed = Save(Bytes(4096, 0xab));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_TRUE(CacheFolderEntries(cache_).empty()) << "partial or temporary file left";
  EXPECT_EQ(QLStatus::Kind::kNoSpace, failed.kind()) << failed.ToString();
  EXPECT_EQ(EFBIG, failed.error());
  EXPECT_EQ(QLStatus::Kind::kNotFound, provider_.GetCachedThumbnail(data_).kind());
  EXPECT_EQ(0, log_.Count("ERROR:")) << "the cache logs no failure itself";
  std::uint64_t const listings = provider_.cache_index().listings();
  Bytes const png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 7, 9};
  EXPECT_TRUE(Save(png).ok());
  EXPECT_EQ(listings, provider_.cache_index().listings()) << "the clean-up was followed";
  EXPECT_EQ(Names{"ff_160x120_0_5f5e1000.png"}, CacheFolderEntries(cache_));
  data_.thumbnail.reset();
  ASSERT_TRUE(provider_.GetCachedThumbnail(data_).ok()) << "read back to its last byte";
  auto const* const stored = static_cast<unsigned char const*>(data_.thumbnail.get());
  EXPECT_EQ(png, Bytes(stored, stored + data_.thumbnail_size));
}

TEST_F(CacheTest, ManyParallelRequestsForOneEntryGenerateOnceAndAllAgree) {
  Write("photo.jpg", qltest::Solid(qltest::Format::kJpeg, 640, 480, {200, 40, 90}));
  qltest::SetMtime(data_.path, kSourceTime);
  QLThumbnailOptions options;
  options.jobs = 4;
  provider_.SetOptions(options);
  std::vector<Bytes> replies(16);
  std::promise<void> go;  // lets the threads start their work together
  std::shared_future<void> const start = go.get_future().share();
  std::vector<std::thread> threads;
  for (Bytes& reply : replies) {
    threads.emplace_back([&] {
      QLThumbnailData data;
      data.path = data_.path;
      data.thumbnail_folder = cache_;
      data.default_thumbnail_folder = temp_.path();
      data.resource_id = 255;
      data.width = 160;
      data.height = 120;
      start.wait();
      if (provider_.GetThumbnailFor(data)) reply = qltest::ThumbnailBytes(data);
    });
  }
  go.set_value();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Names{"ff_160x120_0_5f5e1000.png"}, CacheFolderEntries(cache_));
  Bytes const stored = qltest::ReadBytes(cache_ + "/ff_160x120_0_5f5e1000.png");
  EXPECT_TRUE(qltest::Near({200, 40, 90}, qltest::CentreColour(stored)));
  for (Bytes const& reply : replies) EXPECT_EQ(stored, reply);
  EXPECT_EQ(1, log_.Count("No cached thumbnail for"));
  EXPECT_EQ(15, log_.Count("Sending cached thumbanil for"));
}

// A save that fails costs the request nothing: the thumbnail is still sent,
// and the ERROR line, in the words operators look for, is written by the
// command handler; once for a disk that stays full.
TEST_F(CacheTest, FailedSaveStillAnswersAndIsLoggedOnceByTheCommandHandler) {
  Write("photo.jpg", qltest::Solid(qltest::Format::kJpeg, 64, 48, {200, 40, 90}));
  QLGDHelper helper;
  helper.provider().SetSpaceQuery([](std::string const&) -> std::uintmax_t { return 0; });
  QLThumbnailRequest request;
  request.path = data_.path;
  request.thumbnail_folder = cache_;
  request.default_folder = temp_.path();
  std::string const body = BuildRequestJson(request);
  boost::shared_ptr<unsigned char> message(new unsigned char[body.size()],
                                           [](unsigned char* p) { delete[] p; });
  std::copy(body.begin(), body.end(), message.get());
  QLSocketPair pair;
  std::string reply;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(helper.ProcessCommand(message, static_cast<unsigned>(body.size()), pair.ours()));
    ASSERT_TRUE(ReadFrame(pair.peer(), &reply));
    EXPECT_TRUE(
        qltest::Near({200, 40, 90}, qltest::CentreColour(Bytes(reply.begin(), reply.end()))));
  }
  EXPECT_TRUE(CacheFolderEntries(cache_).empty());
  EXPECT_EQ(1, log_.Count("ERROR:"));
  EXPECT_EQ(1, log_.Count("Unable to cache thumbnail. Insufficient disk space. Require " +
                          std::to_string(reply.size()) + " but availble only 0. "));
}

// While a request holds the provider lock (its save is held up here), a
// request for another entry waits for it by default, gives up after
// --lock-wait-ms, and with --jobs waits for its own entry only, so it is served.
TEST_F(CacheTest, OtherEntryWaitsForTheProviderLockOnlyWithoutJobs) {
  Write("a.jpg", qltest::Solid(qltest::Format::kJpeg, 64, 48, {200, 40, 90}));
  struct Case {
    unsigned jobs, lock_wait_ms;
  } const cases[] = {{0, 0}, {0, 50}, {2, 50}};
  for (Case const& c : cases) {
    QLThumbnailOptions options;
    options.jobs = c.jobs;
    options.lock_wait_ms = c.lock_wait_ms;
    provider_.SetOptions(options);
    std::promise<void> saving, release;
    std::shared_future<void> const released = release.get_future().share();
    std::atomic<int> saves{0};
    provider_.SetSpaceQuery([&](std::string const&) -> std::uintmax_t {
      if (saves++ == 0) {
        saving.set_value();
        released.wait();
      }
      return UINTMAX_MAX;
    });
    QLThumbnailData first, other;
    for (QLThumbnailData* data : {&first, &other}) {
      data->path = data_.path;
      data->thumbnail_folder = cache_;
      data->default_thumbnail_folder = temp_.path();
      data->width = 160;
      data->height = 120;
      data->resource_id = (data == &first ? 10 : 20) + c.jobs + c.lock_wait_ms;
    }
    std::thread holder([&] { provider_.GetThumbnailFor(first); });
    saving.get_future().wait();
    std::future<bool> served =
        std::async(std::launch::async, [&] { return provider_.GetThumbnailFor(other); });
    if (c.jobs == 0 && c.lock_wait_ms == 0) {
      EXPECT_EQ(std::future_status::timeout, served.wait_for(std::chrono::milliseconds(100)));
      release.set_value();
      EXPECT_TRUE(served.get());
    } else {
      EXPECT_EQ(c.jobs > 0, served.get()) << c.jobs;
      release.set_value();
    }
    holder.join();
  }
  EXPECT_TRUE(Logged("after waiting 50 ms for the provider lock"));
}

// After the first line, a full folder is reported at most once a minute,
// with the saves dropped since; other folders are reported on their own.
TEST(QLFullFolderReportsTest, OneLineAMinutePerFolderWithTheSavesDropped) {
  QLFullFolderReports reports;
  QLFullFolderReports::Clock::time_point const start;
  std::uint64_t dropped = 0;
  EXPECT_TRUE(reports.Admit("/a", start, &dropped));
  EXPECT_EQ(1u, dropped);
  EXPECT_FALSE(reports.Admit("/a", start + std::chrono::seconds(59), &dropped));
  EXPECT_TRUE(reports.Admit("/b", start + std::chrono::seconds(59), &dropped));
  EXPECT_FALSE(reports.Admit("/a", start + std::chrono::seconds(59), &dropped));
  EXPECT_TRUE(reports.Admit("/a", start + std::chrono::seconds(60), &dropped));
  EXPECT_EQ(3u, dropped);
  EXPECT_FALSE(reports.Admit("/a", start + std::chrono::seconds(119), &dropped));
}

class CacheFolderIndexTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 120; ++i) Touch("other_" + std::to_string(i));
    for (int i = 0; i < 5; ++i) Touch("ab_1x1_0_" + std::to_string(i) + ".png");
  }
  void Touch(std::string const& name) { ASSERT_TRUE(qltest::WriteBytes(folder_ + name, {})); }
  Names Find(QLCacheFolderIndex& index, std::string const& prefix, std::string const& folder) {
    Names names;
    QLUniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_TRUE(index.FindPrefix(folder, dir.get(), prefix, &names).ok());
    return names;
  }
  QLTempDir temp_;
  std::string folder_ = temp_.path() + "/";
};

TEST_F(CacheFolderIndexTest, LeastRecentlyUsedFolderGoesFirst) {
  QLCacheFolderIndex::Limits limits;
  limits.max_folders = 2;
  QLCacheFolderIndex index(limits);
  std::string const second = folder_ + "b/", third = folder_ + "c/";
  ASSERT_EQ(0, mkdir(second.c_str(), 0755));
  ASSERT_EQ(0, mkdir(third.c_str(), 0755));
  for (std::string const& folder : {folder_, second, folder_, third, folder_})
    Find(index, "x", folder);
  EXPECT_EQ(2u, index.folder_count());
  EXPECT_EQ(3u, index.listings()) << "the first folder stayed, the second was dropped";
  Find(index, "x", second);
  EXPECT_EQ(4u, index.listings());
  limits.idle_drop = std::chrono::seconds(0);  // any folder not in use is idle
  QLCacheFolderIndex idle(limits);
  Find(idle, "x", folder_);
  Find(idle, "x", second);
  EXPECT_EQ(1u, idle.folder_count()) << "the idle folder stayed";
}

TEST_F(CacheFolderIndexTest, FolderOverTheNameBudgetIsListedEveryTime) {
  QLCacheFolderIndex::Limits limits;
  limits.max_names = 124;  // the folder holds 125: one too many
  QLCacheFolderIndex index(limits);
  QLTempDir empty;  // kept throughout: only the folder over the budget is refused
  Find(index, "x", empty.path() + "/");
  for (std::uint64_t round = 1; round <= 3; ++round) {
    EXPECT_EQ(5u, Find(index, "ab_1x1_0", folder_).size());
    EXPECT_EQ(round + 1, index.listings());
  }
  EXPECT_EQ(0u, index.name_count());
  EXPECT_EQ(1u, index.folder_count());
}

// With sizes tracked, a symlink and other names count for nothing; eviction
// goes oldest first but never takes the kept file, nor one whose time moved
// on disk since the index saw it (a hit whose reply is still going out).
TEST_F(CacheFolderIndexTest, EvictsOldestFirstButNotTheKeptNorTheFreshlyHit) {
  std::string const name = "ab_1x1_0_";
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(qltest::WriteBytes(folder_ + name + std::to_string(i) + ".png", Bytes(100, 'x')));
    qltest::SetMtime(folder_ + name + std::to_string(i) + ".png", 1000 + i);
  }
  ASSERT_EQ(0, symlink((name + "0.png").c_str(), (folder_ + name + "5.png").c_str()));
  QLCacheFolderIndex index;
  index.TrackCacheFiles(true);
  Find(index, "x", folder_);
  std::uint64_t bytes = 0;
  ASSERT_TRUE(index.CacheBytes(folder_, &bytes));
  EXPECT_EQ(500u, bytes);
  qltest::SetMtime(folder_ + name + "1.png", 2000);
  QLUniqueFd dir(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  QLCacheFolderIndex::Eviction done;
  ASSERT_TRUE(index.Evict(folder_, dir.get(), 200, name + "0.png", &done).ok());
  EXPECT_EQ(2u, done.files);
  Names left;
  for (std::string const& entry : CacheFolderEntries(folder_)) {
    if (entry.compare(0, name.size(), name) == 0) left.push_back(entry);
  }
  EXPECT_EQ((Names{name + "0.png", name + "1.png", name + "4.png", name + "5.png"}), left);
}

}  // namespace
