// Cost of one thumbnail request for a 12-megapixel photo: the whole cache
// miss (read, decode, scale, encode, save), its stages one by one, and a
// cache hit. The photo is drawn here with libgd: gradients plus noise, so
// the JPEG is as hard to decode as a real picture.
#include <benchmark/benchmark.h>
#include <gd.h>
#include <stdlib.h>

#include <boost/filesystem/operations.hpp>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "support/ql_temp_dir.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

const int kPhotoWidth = 4000;
const int kPhotoHeight = 3000;
const int kThumbWidth = 160;
const int kThumbHeight = 120;

typedef boost::shared_ptr<gdImageStruct> Picture;

Picture Decode(std::vector<unsigned char> const& jpeg) {
  return Picture(gdImageCreateFromJpegPtr(static_cast<int>(jpeg.size()),
                                          const_cast<unsigned char*>(jpeg.data())),
                 gdImgDestroyDeleter());
}

// Everything the benchmarks share, made once: the photo's JPEG bytes, the
// photo on disk, a cache folder and a default-picture folder.
struct Fixture {
  QLTempDir folder;
  std::string photo_path;
  std::string cache_folder;
  std::vector<unsigned char> jpeg;

  Fixture() {
    photo_path = folder.path() + "/photo.jpg";
    cache_folder = folder.path() + "/cache";

    Picture photo(gdImageCreateTrueColor(kPhotoWidth, kPhotoHeight), gdImgDestroyDeleter());
    std::uint32_t seed = 12345;
    for (int y = 0; y < kPhotoHeight; ++y) {
      for (int x = 0; x < kPhotoWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;  // cheap noise for texture
        int const noise = static_cast<int>(seed >> 27);
        int const r = (x * 255 / kPhotoWidth + noise) & 0xff;
        int const g = (y * 255 / kPhotoHeight + noise) & 0xff;
        int const b = ((x ^ y) / 16 + noise * 2) & 0xff;
        gdImageSetPixel(photo.get(), x, y, gdTrueColor(r, g, b));
      }
    }
    gdImageFilledEllipse(photo.get(), 2800, 900, 900, 900, gdTrueColor(250, 220, 60));
    int size = 0;
    boost::shared_ptr<void> bytes(gdImageJpegPtr(photo.get(), &size, 90), gdDeleter());
    unsigned char const* begin = static_cast<unsigned char const*>(bytes.get());
    jpeg.assign(begin, begin + size);
    std::ofstream(photo_path.c_str(), std::ios::binary)
        .write(reinterpret_cast<char const*>(jpeg.data()), size);
  }

  void Fill(QLThumbnailData& data) const {
    data.path = photo_path;
    data.width = kThumbWidth;
    data.height = kThumbHeight;
    data.full_screen = false;
    data.resource_id = 0xbe;
    data.thumbnail_folder = cache_folder;
    data.default_thumbnail_folder = folder.path();  // unused: the photo decodes
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_CacheMiss(benchmark::State& state) {
  Fixture& f = Shared();
  QLThumbnailProvider provider;
  for (auto _ : state) {
    state.PauseTiming();
    boost::filesystem::remove_all(f.cache_folder);
    QLThumbnailData data;
    f.Fill(data);
    state.ResumeTiming();
    if (!provider.GetThumbnailFor(data)) state.SkipWithError("no thumbnail");
    benchmark::DoNotOptimize(data.thumbnail_size);
  }
  state.counters["jpeg_bytes"] = static_cast<double>(f.jpeg.size());
}
BENCHMARK(BM_CacheMiss)->Unit(benchmark::kMillisecond);

void BM_StageDecodeJpeg(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    Picture picture = Decode(f.jpeg);
    if (!picture) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(picture.get());
  }
}
BENCHMARK(BM_StageDecodeJpeg)->Unit(benchmark::kMillisecond);

// The scaling stage alone: the decoded photo copied into a thumbnail canvas.
void BM_StageScale(benchmark::State& state) {
  Picture photo = Decode(Shared().jpeg);
  for (auto _ : state) {
    Picture thumb(gdImageCreateTrueColor(kThumbWidth, kThumbHeight), gdImgDestroyDeleter());
    gdImageCopyResized(thumb.get(), photo.get(), 0, 0, 0, 0, kThumbWidth, kThumbHeight,
                       gdImageSX(photo.get()), gdImageSY(photo.get()));
    benchmark::DoNotOptimize(thumb.get());
  }
}
BENCHMARK(BM_StageScale)->Unit(benchmark::kMicrosecond);

void BM_StageEncodePng(benchmark::State& state) {
  Picture photo = Decode(Shared().jpeg);
  Picture thumb(gdImageCreateTrueColor(kThumbWidth, kThumbHeight), gdImgDestroyDeleter());
  gdImageCopyResized(thumb.get(), photo.get(), 0, 0, 0, 0, kThumbWidth, kThumbHeight,
                     gdImageSX(photo.get()), gdImageSY(photo.get()));
  for (auto _ : state) {
    int size = 0;
    boost::shared_ptr<void> png(gdImagePngPtr(thumb.get(), &size), gdDeleter());
    if (!png) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(size);
  }
}
BENCHMARK(BM_StageEncodePng)->Unit(benchmark::kMicrosecond);

// The provider's own resize step (scale, orientation, PNG encode) on the
// decoded photo.
void BM_StageResizeImage(benchmark::State& state) {
  Fixture& f = Shared();
  Picture photo = Decode(f.jpeg);
  QLThumbnailProvider provider;
  for (auto _ : state) {
    QLThumbnailData data;
    f.Fill(data);
    if (!provider.ResizeImage(photo, data, 1)) state.SkipWithError("resize failed");
    benchmark::DoNotOptimize(data.thumbnail_size);
  }
}
BENCHMARK(BM_StageResizeImage)->Unit(benchmark::kMicrosecond);

void BM_CacheHit(benchmark::State& state) {
  Fixture& f = Shared();
  QLThumbnailProvider provider;
  {
    QLThumbnailData warm;
    f.Fill(warm);
    if (!provider.GetThumbnailFor(warm)) state.SkipWithError("no thumbnail");
  }
  for (auto _ : state) {
    QLThumbnailData data;
    f.Fill(data);
    if (!provider.GetThumbnailFor(data)) state.SkipWithError("no thumbnail");
    benchmark::DoNotOptimize(data.thumbnail_size);
  }
}
BENCHMARK(BM_CacheHit)->Unit(benchmark::kMicrosecond);

}  // namespace
