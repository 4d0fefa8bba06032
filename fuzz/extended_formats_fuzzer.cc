// Fuzz target for the decoders of `--formats extended`: HEIF, AVIF, WebP
// and TIFF bytes go through the provider's handler for their extension
// (header probe, libgd's decoder, turn) and on into ResizeImage.
//
// Input layout:
//   byte 0   extension (value % 4: heic, avif, webp, tif) and, in
//            (value / 4) % 2, the scaling mode (1: full screen)
//   byte 1   requested width  - 1 (0..63)
//   byte 2   requested height - 1 (0..63)
//   rest     the file, written to "input.<extension>" in a sandbox folder
//            whose "defaults/" holds the five default pictures.
//
// Seeds: scripts/make_format_seeds.sh. The checks are those of the
// image_handler target: every handler ends in a thumbnail (its own or the
// image default picture) of the requested box, or in full-screen mode no
// longer than the longer requested side (or, for a picture scaling to a side
// of 0, an untouched record).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "thumbnail/ql_thumbnail_data.h"
#include "thumbnail/ql_thumbnail_options.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qlfuzz::FuzzCheck;

char const* const kExtensions[] = {"heic", "avif", "webp", "tif"};
int const kExtensionCount = 4;
unsigned int const kMaxSide = 64;

QLTempDir* g_sandbox = nullptr;
QLThumbnailProvider* g_provider = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  g_sandbox = new QLTempDir();
  FuzzCheck(std::filesystem::create_directory(g_sandbox->File("defaults")), "defaults folder");
  FuzzCheck(qltest::WriteDefaultPictures(g_sandbox->File("defaults")), "default pictures");
  g_provider = new QLThumbnailProvider();
  QLThumbnailOptions options = g_provider->options();
  // A decoded 4 MP picture is 16 MB of canvas: enough for every real layout,
  // small enough to keep the fuzzer fast and far below its memory limit.
  options.max_source_pixels = 4000000;
  options.formats = QLThumbnailOptions::Formats::kExtended;
  g_provider->SetOptions(options);
  std::atexit([] { delete g_sandbox; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 3) return 0;
  std::string const extension = kExtensions[data[0] % kExtensionCount];
  bool const full_screen = (data[0] / kExtensionCount) % 2 == 1;
  std::uint32_t const width = 1 + data[1] % kMaxSide;
  std::uint32_t const height = 1 + data[2] % kMaxSide;

  std::string const path = g_sandbox->File("input." + extension);
  FuzzCheck(qltest::WriteBytes(path, qltest::Bytes(data + 3, data + size)), "write the input file");

  QLThumbnailData record;
  record.path = path;
  record.width = width;
  record.height = height;
  record.full_screen = full_screen;
  record.resource_id = 1;
  record.default_thumbnail_folder = g_sandbox->File("defaults");

  QLThumbnailProvider::HandlerTable const& handlers = g_provider->handlers();
  QLThumbnailProvider::HandlerTable::const_iterator const handler = handlers.find(extension);
  FuzzCheck(handler != handlers.end(), "every fuzzed extension has a handler");
  bool const made = (g_provider->*(handler->second))(record);

  if (!made) {
    FuzzCheck(full_screen, "thumbnail mode always ends in a thumbnail");
    FuzzCheck(!record.thumbnail && record.thumbnail_size == 0, "a failure leaves the record");
    return 0;
  }
  FuzzCheck(record.thumbnail && record.thumbnail_size > 0, "a thumbnail has bytes");
  std::uint32_t png_width = 0;
  std::uint32_t png_height = 0;
  FuzzCheck(qltest::PngSize(static_cast<unsigned char const*>(record.thumbnail.get()),
                            static_cast<size_t>(record.thumbnail_size), &png_width, &png_height),
            "a thumbnail is a PNG file image");
  if (full_screen) {
    std::uint32_t const longest = std::max(width, height);
    FuzzCheck(png_width >= 1 && png_height >= 1 && png_width <= longest && png_height <= longest,
              "a full-screen thumbnail fits the longer requested side");
  } else {
    FuzzCheck((png_width == width && png_height == height) ||
                  (png_width == height && png_height == width),
              "a thumbnail fills the requested box");
  }
  return 0;
}
