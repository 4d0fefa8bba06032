// Parallel thumbnail jobs: the job slots bound how many generations run at
// once, the entry locks keep two requests for one cache entry apart while
// letting other entries through, and many concurrent requests end with
// every reply correct and exactly one correct file per entry.
#include <gd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "thumbnail/ql_cache_entry_locks.h"
#include "thumbnail/ql_job_slots.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::Bytes;

TEST(JobSlotsTest, NeverMoreThanCapacityAtOnce) {
  QLJobSlots slots(2);
  std::atomic<int> running(0);
  std::atomic<int> most(0);
  std::promise<void> go;  // lets the threads start their work together
  std::shared_future<void> const start = go.get_future().share();
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&] {
      start.wait();
      QLJobSlots::Slot slot(&slots);
      int const now = ++running;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      --running;
    });
  }
  go.set_value();
  for (std::thread& thread : threads) thread.join();
  EXPECT_LE(most.load(), 2);
  EXPECT_EQ(2u, slots.peak_in_use());  // six sleepers of 20 ms do overlap
  EXPECT_EQ(0u, slots.in_use());
}

TEST(JobSlotsTest, ReleaseIsOnceAndANullSetHoldsNothing) {
  QLJobSlots slots(1);
  {
    QLJobSlots::Slot slot(&slots);
    EXPECT_EQ(1u, slots.in_use());
    slot.Release();
    slot.Release();
    EXPECT_EQ(0u, slots.in_use());
    QLJobSlots::Slot again(&slots);  // would block for ever if the slot leaked
    EXPECT_EQ(1u, slots.in_use());
  }
  EXPECT_EQ(0u, slots.in_use());
  QLJobSlots::Slot nothing(nullptr);
  EXPECT_EQ(1u, QLJobSlots(0).capacity());
}

TEST(CacheEntryLocksTest, SameKeyWaitsOtherKeyDoesNot) {
  QLCacheEntryLocks locks;
  std::atomic<bool> same_entered(false);
  std::atomic<bool> other_entered(false);
  std::thread same;
  {
    QLCacheEntryLocks::Hold held(locks, "folder a");
    same = std::thread([&] {
      QLCacheEntryLocks::Hold hold(locks, "folder a");
      same_entered = true;
    });
    std::thread other([&] {
      QLCacheEntryLocks::Hold hold(locks, "folder b");
      other_entered = true;
    });
    other.join();
    EXPECT_TRUE(other_entered);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(same_entered);
    EXPECT_EQ(1u, locks.size());  // "a", held and waited for; "b" is gone
  }
  same.join();
  EXPECT_TRUE(same_entered);
  EXPECT_EQ(0u, locks.size());
}

// A striped photo as a JPEG file, so a thumbnail's bytes tell a correct
// generation from a wrong one.
void WritePhoto(std::string const& path) {
  ScopedGdImage photo(gdImageCreateTrueColor(640, 480));
  for (int x = 0; x < 640; x += 16) {
    gdImageFilledRectangle(photo.get(), x, 0, x + 7, 479,
                           gdTrueColor(x * 255 / 640, 255 - x * 255 / 640, 90));
  }
  qltest::WriteFile(path, qltest::Encode(photo.get(), qltest::Format::kJpeg));
}

class JobsTest : public qltest::ServiceTest {
 protected:
  void SetUp() override {
    photo_ = temp_.File("photo.jpg");
    WritePhoto(photo_);
    qltest::SetMtime(photo_, 1600000000);
    qltest::WriteDefaultPictures(temp_.path());
  }

  void Fill(QLThumbnailData& data, std::uint64_t id, std::string const& folder) {
    qltest::FillRequest(data, photo_, folder, id);
    data.default_thumbnail_folder = temp_.path();
  }

  // The thumbnail a lone request on a one-lock provider gives.
  Bytes Reference() {
    QLThumbnailProvider provider;
    QLThumbnailData data;
    Fill(data, 1, temp_.File("reference"));
    EXPECT_TRUE(provider.GetThumbnailFor(data));
    return qltest::ThumbnailBytes(data);
  }

  static void WithJobs(QLThumbnailProvider& provider, unsigned int jobs) {
    QLThumbnailOptions options;
    options.jobs = jobs;
    provider.SetOptions(options);
  }

  // `count` threads ask at once; request i uses id_of(i) and folder_of(i).
  template <typename IdOf, typename FolderOf>
  std::vector<Bytes> RequestTogether(QLThumbnailProvider& provider, int count, IdOf id_of,
                                     FolderOf folder_of) {
    std::vector<Bytes> replies(count);
    std::promise<void> go;  // lets the threads start their work together
    std::shared_future<void> const start = go.get_future().share();
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
      threads.emplace_back([&, i] {
        QLThumbnailData data;
        Fill(data, id_of(i), folder_of(i));
        start.wait();
        if (provider.GetThumbnailFor(data)) replies[i] = qltest::ThumbnailBytes(data);
      });
    }
    go.set_value();
    for (std::thread& thread : threads) thread.join();
    return replies;
  }

  std::string photo_;
};

TEST_F(JobsTest, ManyRequestsForOneEntryGenerateOnceAndAllAgree) {
  Bytes const reference = Reference();
  ASSERT_FALSE(reference.empty());
  log_.Clear();
  QLThumbnailProvider provider;
  WithJobs(provider, 4);
  std::vector<Bytes> const replies = RequestTogether(
      provider, 16, [](int) { return 0xabc; }, [this](int) { return cache_; });
  for (Bytes const& reply : replies) EXPECT_EQ(reference, reply);
  EXPECT_EQ(std::vector<std::string>{"abc_160x120_0_5f5e1000.png"}, qltest::ListFolder(cache_));
  EXPECT_EQ(reference, qltest::ReadFile(cache_ + "/abc_160x120_0_5f5e1000.png"));
  // The entry lock lets one request miss and generate; the rest find its file.
  EXPECT_EQ(1, log_.Count("No cached thumbnail for"));
  EXPECT_EQ(15, log_.Count("Sending cached thumbanil for"));
}

TEST_F(JobsTest, OneFolderSpeltTwoWaysIsOneEntry) {
  Bytes const reference = Reference();
  log_.Clear();
  QLThumbnailProvider provider;
  WithJobs(provider, 4);
  std::string const other_spelling = temp_.path() + "/./cache/";
  std::vector<Bytes> const replies = RequestTogether(
      provider, 12, [](int) { return 0xabc; },
      [&](int i) { return i % 2 ? cache_ : other_spelling; });
  for (Bytes const& reply : replies) EXPECT_EQ(reference, reply);
  EXPECT_EQ(std::vector<std::string>{"abc_160x120_0_5f5e1000.png"}, qltest::ListFolder(cache_));
  EXPECT_EQ(1, log_.Count("No cached thumbnail for"));
}

TEST_F(JobsTest, DistinctEntriesStayWithinTheJobLimit) {
  Bytes const reference = Reference();
  QLThumbnailProvider provider;
  WithJobs(provider, 2);
  std::vector<Bytes> const replies = RequestTogether(
      provider, 8, [](int i) { return 0x100 + i; }, [this](int) { return cache_; });
  for (Bytes const& reply : replies) EXPECT_EQ(reference, reply);
  EXPECT_EQ(8u, qltest::ListFolder(cache_).size());
  ASSERT_TRUE(provider.job_slots());
  EXPECT_GE(provider.job_slots()->peak_in_use(), 1u);
  EXPECT_LE(provider.job_slots()->peak_in_use(), 2u);
  EXPECT_EQ(0u, provider.job_slots()->in_use());
}

TEST_F(JobsTest, RoundsOfParallelSavesInOneFolderLeaveOneFreshFileEach) {
  QLThumbnailProvider provider;
  WithJobs(provider, 3);
  std::time_t const first = 1600000000;
  for (int round = 0; round < 5; ++round) {
    qltest::SetMtime(photo_, first + round);
    std::vector<Bytes> const replies = RequestTogether(
        provider, 6, [](int i) { return 0x200 + i; }, [this](int) { return cache_; });
    for (Bytes const& reply : replies) EXPECT_FALSE(reply.empty());
  }
  std::vector<std::string> expected;
  for (int i = 0; i < 6; ++i)
    expected.push_back(std::to_string(200 + i) + "_160x120_0_5f5e1004.png");
  EXPECT_EQ(expected, qltest::ListFolder(cache_));
  // Our own saves never made the index distrust the folder.
  EXPECT_EQ(1u, provider.cache_index().listings());
}

TEST_F(JobsTest, ZeroJobsKeepsTheSingleLock) {
  QLThumbnailProvider provider;
  EXPECT_EQ(nullptr, provider.job_slots());
  WithJobs(provider, 3);
  ASSERT_TRUE(provider.job_slots());
  EXPECT_EQ(3u, provider.job_slots()->capacity());
  WithJobs(provider, 0);
  EXPECT_EQ(nullptr, provider.job_slots());
  Bytes const reference = Reference();
  log_.Clear();
  std::vector<Bytes> const replies = RequestTogether(
      provider, 8, [](int) { return 0xabc; }, [this](int) { return cache_; });
  for (Bytes const& reply : replies) EXPECT_EQ(reference, reply);
  EXPECT_EQ(1, log_.Count("No cached thumbnail for"));
}

}  // namespace
