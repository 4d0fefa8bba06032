// What --color-management adds to a miss, step by step: finding the
// profile of a JPEG (with one and without: the cost every file pays), and
// the finishing step (scale a 12-megapixel photo to 160x120, PNG encode)
// with and without the conversion of its canvas through an Adobe RGB
// transform taken from the shared cache, and that conversion alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <gd.h>
#include <unistd.h>

#include <boost/shared_ptr.hpp>
#include <string>

#include "ql_photo_synth.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/color/ql_picture_color.h"
#include "thumbnail/color/ql_standard_profiles.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_image_resize.h"

namespace {

struct Files {
  QLTempDir folder;
  boost::shared_ptr<gdImageStruct> photo;
  std::string plain = folder.File("plain.jpg"), profiled = folder.File("profiled.jpg");
  Files() {
    QLPhotoSpec drawn;
    drawn.width = 4000;
    drawn.height = 3000;
    photo.reset(DrawPhoto(drawn).release(), gdImgDestroyDeleter());
    int size = 0;
    void* data = gdImageJpegPtr(photo.get(), &size, 90);
    std::string jpeg(static_cast<char*>(data), static_cast<std::size_t>(size));
    gdFree(data);
    std::string const icc = AdobeRgbProfile();
    std::string const app2 =
        std::string("\xFF\xE2", 2) + static_cast<char>((icc.size() + 16) >> 8) +
        static_cast<char>((icc.size() + 16) & 0xFF) + std::string("ICC_PROFILE\0\1\1", 14) + icc;
    qltest::WriteBytes(plain, qltest::Bytes(jpeg.begin(), jpeg.end()));
    jpeg.insert(2, app2);
    qltest::WriteBytes(profiled, qltest::Bytes(jpeg.begin(), jpeg.end()));
  }
};

Files& Shared() {
  static Files files;
  return files;
}

// range(0): 1 the file with the profile, 0 without.
void BM_FindPictureColor(benchmark::State& state) {
  std::string const& path = state.range(0) ? Shared().profiled : Shared().plain;
  int const fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  for (auto _ : state) {
    QLPictureColor color = FindPictureColor(fd, QLProfileContainer::kJpeg, path);
    benchmark::DoNotOptimize(color.canvas);
  }
  if (state.range(0) && !FindPictureColor(fd, QLProfileContainer::kJpeg, path).canvas) {
    state.SkipWithError("no transform for the profiled file");
  }
  close(fd);
}
BENCHMARK(BM_FindPictureColor)->Arg(0)->Arg(1);

// range(0): 1 with the canvas converted, 0 without.
void BM_FinishThumbnail(benchmark::State& state) {
  int const fd = open(Shared().profiled.c_str(), O_RDONLY | O_CLOEXEC);
  QLPictureColor const color = FindPictureColor(fd, QLProfileContainer::kJpeg, "bench");
  close(fd);
  QLThumbnailOptions const options;
  for (auto _ : state) {
    QLThumbnailData data;
    data.width = 160;
    data.height = 120;
    if (!ResizeImage(options, Shared().photo, data, 1, 4000, 3000,
                     state.range(0) ? color.canvas.get() : nullptr)) {
      state.SkipWithError("resize failed");
    }
  }
}
BENCHMARK(BM_FinishThumbnail)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The conversion alone, of a 160x120 canvas (in place, again and again).
void BM_ConvertCanvas(benchmark::State& state) {
  int const fd = open(Shared().profiled.c_str(), O_RDONLY | O_CLOEXEC);
  QLPictureColor const color = FindPictureColor(fd, QLProfileContainer::kJpeg, "bench");
  close(fd);
  ScopedGdImage canvas(gdImageCreateTrueColor(160, 120));
  gdImageCopyResized(canvas.get(), Shared().photo.get(), 0, 0, 0, 0, 160, 120, 4000, 3000);
  for (auto _ : state) {
    if (color.canvas) color.canvas->ConvertCanvas(canvas.get());
  }
  if (!color.canvas) state.SkipWithError("no transform");
}
BENCHMARK(BM_ConvertCanvas);

}  // namespace
