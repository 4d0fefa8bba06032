// Cost of the steps after decoding, on a 12-megapixel photo-like picture:
// the provider's resize step (scale, turn, PNG) in both modes (fill a
// 160x120 box; fit the longer side to 1920) and for every EXIF orientation,
// the turn alone for each orientation, and PNG encoding at the compression
// levels and filter choices the command line offers.
#include <benchmark/benchmark.h>
#include <gd.h>
#include <png.h>

#include <boost/shared_ptr.hpp>
#include <memory>

#include "ql_photo_synth.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_png_encoder.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

typedef boost::shared_ptr<gdImageStruct> Picture;

// The decoded photo and the two thumbnail canvases made from it, drawn once.
struct Pictures {
  Picture photo;
  ScopedGdImage small;   // 160 x 120
  ScopedGdImage screen;  // 1920 x 1440

  Pictures() {
    QLPhotoSpec photo_spec;
    photo_spec.width = 4000;
    photo_spec.height = 3000;
    photo_spec.seed = 12;
    photo = Picture(DrawPhoto(photo_spec).release(), gdImgDestroyDeleter());
    small.reset(Scaled(160, 120));
    screen.reset(Scaled(1920, 1440));
  }
  gdImagePtr Scaled(int width, int height) const {
    gdImagePtr canvas = gdImageCreateTrueColor(width, height);
    if (canvas && photo) {
      gdImageCopyResized(canvas, photo.get(), 0, 0, 0, 0, width, height, gdImageSX(photo.get()),
                         gdImageSY(photo.get()));
    }
    return canvas;
  }
};

Pictures& Shared() {
  static Pictures pictures;
  return pictures;
}

// Provider resize step: state.range(0) is the orientation, range(1) the mode
// (0: fill 160x120, 1: fit 1920x1080).
void BM_ResizeImage(benchmark::State& state) {
  Pictures& pictures = Shared();
  QLThumbnailProvider provider;
  int const orientation = static_cast<int>(state.range(0));
  bool const fit = state.range(1) != 0;
  for (auto _ : state) {
    QLThumbnailData data;
    data.width = fit ? 1920 : 160;
    data.height = fit ? 1080 : 120;
    data.full_screen = fit;
    if (!provider.ResizeImage(pictures.photo, data, orientation)) {
      state.SkipWithError("resize failed");
      break;
    }
    benchmark::DoNotOptimize(data.thumbnail_size);
  }
  state.SetLabel(fit ? "fit 1920" : "fill 160x120");
}
BENCHMARK(BM_ResizeImage)
    ->ArgNames({"orientation", "fit"})
    ->ArgsProduct({{1, 2, 3, 4, 5, 6, 7, 8}, {0}})
    ->Args({1, 1})
    ->Args({6, 1})
    ->Unit(benchmark::kMicrosecond);

// The turn alone: range(0) the orientation, range(1) 0 for 160x120 or 1 for
// 1920x1440.
void BM_OrientImage(benchmark::State& state) {
  Pictures& pictures = Shared();
  gdImagePtr source = state.range(1) ? pictures.screen.get() : pictures.small.get();
  int const orientation = static_cast<int>(state.range(0));
  for (auto _ : state) {
    gdImagePtr turned = nullptr;
    if (!OrientImage(source, &turned, orientation)) {
      state.SkipWithError("turn failed");
      break;
    }
    ScopedGdImage owner(turned);
    benchmark::DoNotOptimize(owner.get());
  }
}
BENCHMARK(BM_OrientImage)
    ->ArgNames({"orientation", "screen"})
    ->ArgsProduct({{2, 3, 4, 5, 6, 7, 8}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// PNG encoding: range(0) the zlib level (-1: libgd's default), range(1) the
// filter mask (-1: libgd's default), range(2) 0 for 160x120, 1 for 1920x1440.
void BM_EncodePng(benchmark::State& state) {
  Pictures& pictures = Shared();
  gdImagePtr canvas = state.range(2) ? pictures.screen.get() : pictures.small.get();
  int const level = static_cast<int>(state.range(0));
  int const filters = static_cast<int>(state.range(1));
  std::int64_t size = 0;
  for (auto _ : state) {
    boost::shared_ptr<void> png = EncodeThumbnailPng(canvas, level, filters, &size);
    if (!png) {
      state.SkipWithError("encode failed");
      break;
    }
    benchmark::DoNotOptimize(png.get());
  }
  state.counters["png_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_EncodePng)
    ->ArgNames({"level", "filters", "screen"})
    ->ArgsProduct({{-1, 1, 9}, {-1, PNG_FILTER_NONE, PNG_ALL_FILTERS}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
