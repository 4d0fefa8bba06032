// Thumbnail throughput with one provider lock (jobs 0) against two parallel
// jobs (jobs 2), two client threads asking for different resources of one
// 2000 x 1500 photo: decode, scale, encode and save per request. The
// "items_per_second" counter is requests per second over both threads.
#include <benchmark/benchmark.h>
#include <gd.h>
#include <stdlib.h>

#include <atomic>
#include <boost/filesystem/operations.hpp>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "log/ql_log.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

struct Photo {
  QLTempDir folder;
  std::string path;
  Photo() {
    path = folder.path() + "/photo.jpg";
    boost::shared_ptr<gdImageStruct> photo(gdImageCreateTrueColor(2000, 1500),
                                           gdImgDestroyDeleter());
    std::uint32_t seed = 7;
    for (int y = 0; y < 1500; ++y) {
      for (int x = 0; x < 2000; ++x) {
        seed = seed * 1664525u + 1013904223u;
        gdImageSetPixel(photo.get(), x, y,
                        gdTrueColor((x / 8 + (seed >> 28)) & 0xff, (y / 6) & 0xff, (x ^ y) & 0xff));
      }
    }
    int size = 0;
    boost::shared_ptr<void> jpeg(gdImageJpegPtr(photo.get(), &size, 90), gdDeleter());
    std::ofstream(path.c_str(), std::ios::binary).write(static_cast<char*>(jpeg.get()), size);
  }
};

Photo& SharedPhoto() {
  static Photo photo;
  return photo;
}

std::unique_ptr<QLThumbnailProvider> g_provider;
std::atomic<std::uint64_t> g_next_id(1);

void BM_Requests(benchmark::State& state) {
  if (state.thread_index() == 0) {
    ql_log_level = -1;
    SharedPhoto();
    g_provider.reset(new QLThumbnailProvider());
    QLThumbnailOptions options;
    options.jobs = static_cast<unsigned int>(state.range(0));
    g_provider->SetOptions(options);
  }
  Photo& photo = SharedPhoto();
  for (auto _ : state) {
    QLThumbnailData data;
    data.path = photo.path;
    data.resource_id = g_next_id++;  // always a miss
    data.width = 320;
    data.height = 240;
    data.thumbnail_folder = photo.folder.path() + "/cache";
    data.default_thumbnail_folder = photo.folder.path();
    if (!g_provider->GetThumbnailFor(data)) state.SkipWithError("no thumbnail");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Requests)
    ->Arg(0)
    ->Arg(2)
    ->Threads(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);

}  // namespace
