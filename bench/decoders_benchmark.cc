// Cost of each decoder the thumbnail service uses, on the same 2-megapixel
// photo-like picture stored in every format: JPEG (baseline and
// progressive), PNG, GIF, BMP and WBMP through libgd from memory, and the
// attached picture of an MP3 file through the provider's MP3 handler (tag
// read, cover decode, scale, PNG encode). All inputs are made here.
#include <benchmark/benchmark.h>
#include <gd.h>
#include <stdlib.h>

#include <boost/filesystem/operations.hpp>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ql_photo_synth.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/ql_gd_deleters.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

typedef std::vector<unsigned char> Bytes;
typedef gdImagePtr (*MemoryDecoder)(int size, void* data);

Bytes Take(void* data, int const& size) {
  std::unique_ptr<void, gdDeleter> owner(data);
  if (!data || size <= 0) return Bytes();
  unsigned char const* begin = static_cast<unsigned char const*>(data);
  return Bytes(begin, begin + size);
}

// An ID3v2.3 tag holding one front-cover APIC frame with `jpeg`, followed by
// a few bytes standing in for the audio.
Bytes Mp3WithCover(Bytes const& jpeg) {
  Bytes frame;
  std::string const mime = "image/jpeg";
  frame.push_back(0);  // text encoding: ISO-8859-1
  frame.insert(frame.end(), mime.begin(), mime.end());
  frame.push_back(0);
  frame.push_back(3);  // picture type: front cover
  frame.push_back(0);  // empty description
  frame.insert(frame.end(), jpeg.begin(), jpeg.end());

  Bytes tag = {'A', 'P', 'I', 'C'};
  std::uint32_t const frame_size = static_cast<std::uint32_t>(frame.size());
  for (int shift = 24; shift >= 0; shift -= 8) tag.push_back((frame_size >> shift) & 0xff);
  tag.push_back(0);  // frame flags
  tag.push_back(0);
  tag.insert(tag.end(), frame.begin(), frame.end());

  Bytes file = {'I', 'D', '3', 3, 0, 0};
  std::uint32_t const tag_size = static_cast<std::uint32_t>(tag.size());
  for (int shift = 21; shift >= 0; shift -= 7) file.push_back((tag_size >> shift) & 0x7f);
  file.insert(file.end(), tag.begin(), tag.end());
  Bytes const audio = {0xff, 0xfb, 0x90, 0x64, 0, 0, 0, 0};
  file.insert(file.end(), audio.begin(), audio.end());
  return file;
}

// Every input, made once.
struct Inputs {
  Bytes jpeg_baseline, jpeg_progressive, png, gif, bmp, wbmp;
  QLTempDir folder;
  std::string mp3_path;

  Inputs() {
    QLPhotoSpec photo_spec;
    photo_spec.width = 1632;
    photo_spec.height = 1224;
    photo_spec.seed = 21;
    ScopedPhoto photo = DrawPhoto(photo_spec);
    jpeg_baseline = EncodeJpeg(photo.get(), 90, false);
    jpeg_progressive = EncodeJpeg(photo.get(), 90, true);
    // `size` is passed by reference so it is read after the encoder ran.
    int size = 0;
    png = Take(gdImagePngPtr(photo.get(), &size), size);
    gif = Take(gdImageGifPtr(photo.get(), &size), size);  // quantised to 256 colours
    bmp = Take(gdImageBmpPtr(photo.get(), &size, 0), size);
    wbmp = Take(gdImageWBMPPtr(photo.get(), &size, gdTrueColor(0, 0, 0)), size);

    photo_spec.width = photo_spec.height = 600;  // a typical album cover
    ScopedPhoto cover = DrawPhoto(photo_spec);
    Bytes const mp3 = Mp3WithCover(EncodeJpeg(cover.get(), 90, false));
    mp3_path = folder.path() + "/song.mp3";
    std::ofstream(mp3_path.c_str(), std::ios::binary)
        .write(reinterpret_cast<char const*>(mp3.data()), static_cast<std::streamsize>(mp3.size()));
  }
};

Inputs& Shared() {
  static Inputs inputs;
  return inputs;
}

void Decode(benchmark::State& state, Bytes const& bytes, MemoryDecoder decode) {
  if (bytes.empty()) {
    state.SkipWithError("input could not be made");
    return;
  }
  for (auto _ : state) {
    std::unique_ptr<gdImageStruct, gdImgDestroyDeleter> picture(
        decode(static_cast<int>(bytes.size()), const_cast<unsigned char*>(bytes.data())));
    if (!picture || gdImageSX(picture.get()) != 1632) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(picture.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
  state.counters["file_bytes"] = static_cast<double>(bytes.size());
}

void BM_DecodeJpegBaseline(benchmark::State& state) {
  Decode(state, Shared().jpeg_baseline, gdImageCreateFromJpegPtr);
}
BENCHMARK(BM_DecodeJpegBaseline)->Unit(benchmark::kMillisecond);

void BM_DecodeJpegProgressive(benchmark::State& state) {
  Decode(state, Shared().jpeg_progressive, gdImageCreateFromJpegPtr);
}
BENCHMARK(BM_DecodeJpegProgressive)->Unit(benchmark::kMillisecond);

void BM_DecodePng(benchmark::State& state) { Decode(state, Shared().png, gdImageCreateFromPngPtr); }
BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond);

void BM_DecodeGif(benchmark::State& state) { Decode(state, Shared().gif, gdImageCreateFromGifPtr); }
BENCHMARK(BM_DecodeGif)->Unit(benchmark::kMillisecond);

void BM_DecodeBmp(benchmark::State& state) { Decode(state, Shared().bmp, gdImageCreateFromBmpPtr); }
BENCHMARK(BM_DecodeBmp)->Unit(benchmark::kMillisecond);

void BM_DecodeWbmp(benchmark::State& state) {
  Decode(state, Shared().wbmp, gdImageCreateFromWBMPPtr);
}
BENCHMARK(BM_DecodeWbmp)->Unit(benchmark::kMillisecond);

// The whole MP3 handler: tag, cover decode, scale and PNG encode.
void BM_Mp3CoverHandler(benchmark::State& state) {
  Inputs& inputs = Shared();
  QLThumbnailProvider provider;
  for (auto _ : state) {
    QLThumbnailData data;
    data.path = inputs.mp3_path;
    data.width = 160;
    data.height = 120;
    data.thumbnail_folder = inputs.folder.path() + "/cache";
    data.default_thumbnail_folder = inputs.folder.path();
    if (!provider.HandleAudioMp3(data) || !data.save_to_cache) {
      state.SkipWithError("the cover was not used");
      break;
    }
    benchmark::DoNotOptimize(data.thumbnail_size);
  }
}
BENCHMARK(BM_Mp3CoverHandler)->Unit(benchmark::kMicrosecond);

}  // namespace
