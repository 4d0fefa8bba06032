// The body shared by the format-handler fuzz targets (image_handler,
// extended_formats): a file goes through the provider's handler for its
// extension and on into ResizeImage, as a request for a stored file would.
// Input: byte 0 picks the extension (value % count) and the mode
// ((value / count) % 2 == 1: full screen); bytes 1 and 2 the requested width
// and height - 1 (0..63); the rest is the file, written next to the five
// default pictures. Checks: every handler ends in a PNG thumbnail (its own or
// a fallback) of exactly the requested box (turned boxes swap sides) in
// thumbnail mode, no side longer than the longer requested one in full-screen
// mode. The one allowed failure is full-screen mode, where a picture much
// longer than wide scales to a side of 0; then the record stays untouched.
// Used from the fuzzing thread alone.
#ifndef QUORLIN_FUZZ_HANDLER_FUZZ_H_
#define QUORLIN_FUZZ_HANDLER_FUZZ_H_

#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace qlfuzz {

// The provider every input goes through; made with the default pictures by
// the first call. A decoded 4 MP picture is 16 MB of canvas: enough for
// every real layout, small enough to keep the fuzzer fast.
inline QLThumbnailProvider& HandlerProvider(QLThumbnailOptions::Formats formats) {
  static QLThumbnailProvider* provider = [formats] {
    DiscardLogs();
    FuzzCheck(qltest::WriteDefaultPictures(Scratch().path()), "default pictures");
    QLThumbnailProvider* made = new QLThumbnailProvider();
    QLThumbnailOptions options = made->options();
    options.max_source_pixels = 4000000;
    options.formats = formats;
    made->SetOptions(options);
    return made;
  }();
  return *provider;
}

template <std::size_t kCount>
void FuzzHandler(QLThumbnailProvider& provider, char const* const (&extensions)[kCount],
                 std::uint8_t const* data, std::size_t size) {
  if (size < 3) return;
  std::string const extension = extensions[data[0] % kCount];
  QLThumbnailData record;
  record.path = Scratch().File("input." + extension);
  record.full_screen = (data[0] / kCount) % 2 == 1;
  record.width = 1 + data[1] % 64;
  record.height = 1 + data[2] % 64;
  record.resource_id = 1;
  record.default_thumbnail_folder = Scratch().path();
  FuzzCheck(qltest::WriteBytes(record.path, qltest::Bytes(data + 3, data + size)), "write input");

  auto const handler = provider.handlers().find(extension);
  FuzzCheck(handler != provider.handlers().end(), "every fuzzed extension has a handler");
  if (!(provider.*(handler->second))(record)) {
    FuzzCheck(record.full_screen, "thumbnail mode always ends in a thumbnail");
    FuzzCheck(!record.thumbnail && record.thumbnail_size == 0, "a failure leaves the record");
    return;
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
}

}  // namespace qlfuzz

#endif  // QUORLIN_FUZZ_HANDLER_FUZZ_H_
