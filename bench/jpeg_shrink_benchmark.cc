// Cost of a thumbnail of a 12-megapixel JPEG through the JPEG handler, with
// libgd's full-size decode and with shrink-on-load decoding, for a small
// thumbnail (160 x 120, decoded at 1/8) and a full-screen one (1920 x 1080,
// decoded at 1/2), and from the 160 x 120 preview the photo carries in its
// EXIF data (--embedded-previews). The photo is drawn here: gradients plus
// noise, so the JPEG is as hard to decode as a real picture; its preview is
// the photo scaled down, as a camera writes it.
#include <benchmark/benchmark.h>
#include <gd.h>
#include <stdlib.h>

#include <boost/filesystem/operations.hpp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

struct Photo {
  QLTempDir folder;
  std::string path;

  Photo() {
    path = folder.path() + "/photo.jpg";
    int const width = 4000, height = 3000;
    boost::shared_ptr<gdImageStruct> photo(gdImageCreateTrueColor(width, height),
                                           gdImgDestroyDeleter());
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        seed = seed * 1664525u + 1013904223u;
        int const noise = static_cast<int>(seed >> 27);
        photo->tpixels[y][x] =
            gdTrueColor((x * 255 / width + noise) & 0xff, (y * 255 / height + noise) & 0xff,
                        ((x ^ y) / 16 + noise * 2) & 0xff);
      }
    }
    int size = 0;
    boost::shared_ptr<void> bytes(gdImageJpegPtr(photo.get(), &size, 90), gdDeleter());
    unsigned char const* const begin = static_cast<unsigned char const*>(bytes.get());
    qltest::Bytes const jpeg(begin, begin + size);
    boost::shared_ptr<gdImageStruct> preview(gdImageCreateTrueColor(160, 120),
                                             gdImgDestroyDeleter());
    gdImageCopyResampled(preview.get(), photo.get(), 0, 0, 0, 0, 160, 120, width, height);
    qltest::Bytes const file = qltest::InsertSegment(
        jpeg, qltest::ExifSegment(qltest::ByteOrder::kMotorola, {qltest::OrientationEntry(1)},
                                  qltest::Encode(preview.get(), qltest::Format::kJpeg)));
    std::ofstream(path.c_str(), std::ios::binary)
        .write(reinterpret_cast<char const*>(file.data()),
               static_cast<std::streamsize>(file.size()));
  }
};

Photo& SharedPhoto() {
  static Photo photo;
  return photo;
}

// Arguments: shrink-on-load (0 or 1), width, height, full screen (0 or 1),
// embedded previews (0 or 1).
void BM_JpegHandler(benchmark::State& state) {
  Photo& photo = SharedPhoto();
  QLThumbnailProvider provider;
  QLThumbnailOptions options;
  options.jpeg_shrink_on_load = state.range(0) != 0;
  options.embedded_previews = state.range(4) != 0;
  provider.SetOptions(options);
  for (auto _ : state) {
    QLThumbnailData data;
    data.path = photo.path;
    data.width = static_cast<std::uint32_t>(state.range(1));
    data.height = static_cast<std::uint32_t>(state.range(2));
    data.full_screen = state.range(3) != 0;
    data.default_thumbnail_folder = photo.folder.path();
    if (!provider.HandleImgJpg(data)) state.SkipWithError("no thumbnail");
    benchmark::DoNotOptimize(data.thumbnail_size);
  }
}
BENCHMARK(BM_JpegHandler)
    ->ArgNames({"shrink", "w", "h", "full", "previews"})
    ->Args({0, 160, 120, 0, 0})
    ->Args({1, 160, 120, 0, 0})
    ->Args({1, 160, 120, 0, 1})
    ->Args({0, 1920, 1080, 1, 0})
    ->Args({1, 1920, 1080, 1, 0})
    ->Unit(benchmark::kMillisecond);

// The decode stage alone, from the open file: libgd's full decode, or the
// shrink-on-load decode for a 160 x 120 thumbnail (1/8).
void BM_DecodeOnly(benchmark::State& state) {
  Photo& photo = SharedPhoto();
  for (auto _ : state) {
    FILE* file = fopen(photo.path.c_str(), "rb");
    if (!file) {
      state.SkipWithError("cannot open");
      break;
    }
    QLDecodedPicture decoded = DecodeJpegForThumbnail(file, 160, 120, false, state.range(0) != 0);
    fclose(file);
    if (!decoded) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(decoded.picture.get());
  }
  state.counters["jpeg_bytes"] = static_cast<double>(boost::filesystem::file_size(photo.path));
}
BENCHMARK(BM_DecodeOnly)->ArgName("shrink")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
