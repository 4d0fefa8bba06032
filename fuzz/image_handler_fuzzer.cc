// Fuzz target for the format handlers: the file goes through the provider's
// handler for its extension and on into ResizeImage, as a request for a
// stored file would. Byte 0: the extension (value % 6: jpg, png, gif, bmp,
// wbmp, mp3) and the mode ((value / 6) % 2 == 1: full screen); bytes 1 and 2:
// requested width and height - 1 (0..63); the rest: the file, written next to
// the five default pictures. Checks: every handler ends in a PNG thumbnail
// (its own or a fallback) of exactly the requested box (turned boxes swap
// sides) in thumbnail mode, no side longer than the longer requested one in
// full-screen mode. The one allowed failure is full-screen mode, where a
// picture much longer than wide scales to a side of 0; then the record stays
// untouched.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "thumbnail/ql_thumbnail_provider.h"

using qlfuzz::FuzzCheck;

QLThumbnailProvider* g_provider = nullptr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  FuzzCheck(qltest::WriteDefaultPictures(qlfuzz::Scratch().path()), "default pictures");
  g_provider = new QLThumbnailProvider();
  QLThumbnailOptions options = g_provider->options();
  // A decoded 4 MP picture is 16 MB of canvas: enough for every real layout,
  // small enough to keep the fuzzer fast and far below its memory limit.
  options.max_source_pixels = 4000000;
  g_provider->SetOptions(options);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  char const* const kExtensions[] = {"jpg", "png", "gif", "bmp", "wbmp", "mp3"};
  if (size < 3) return 0;
  std::string const extension = kExtensions[data[0] % 6];
  QLThumbnailData record;
  record.path = qlfuzz::Scratch().File("input." + extension);
  record.full_screen = (data[0] / 6) % 2 == 1;
  record.width = 1 + data[1] % 64;
  record.height = 1 + data[2] % 64;
  record.resource_id = 1;
  record.default_thumbnail_folder = qlfuzz::Scratch().path();
  FuzzCheck(qltest::WriteBytes(record.path, qltest::Bytes(data + 3, data + size)), "write input");

  auto const handler = g_provider->handlers().find(extension);
  FuzzCheck(handler != g_provider->handlers().end(), "every fuzzed extension has a handler");
  if (!(g_provider->*(handler->second))(record)) {
    FuzzCheck(record.full_screen, "thumbnail mode always ends in a thumbnail");
    FuzzCheck(!record.thumbnail && record.thumbnail_size == 0, "a failure leaves the record");
    return 0;
  }
  std::uint32_t w = 0, h = 0;
  FuzzCheck(
      record.thumbnail && qltest::PngSize(static_cast<unsigned char const*>(record.thumbnail.get()),
                                          static_cast<size_t>(record.thumbnail_size), &w, &h),
      "a thumbnail is a PNG file image");
  std::uint32_t const longest = std::max(record.width, record.height);
  if (record.full_screen) {
    FuzzCheck(w >= 1 && h >= 1 && w <= longest && h <= longest, "full screen fits the longer side");
  } else {
    FuzzCheck(
        (w == record.width && h == record.height) || (w == record.height && h == record.width),
        "a thumbnail fills the requested box");
  }
  return 0;
}
