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

}  // namespace
