// Fuzz target for the header probe, checked against the decoders it guards:
// the size limit is only as good as the probe's agreement with them.
//
// Input: the bytes of a would-be picture. For each of the JPEG, PNG, GIF,
// BMP and WBMP decoders of libgd (as the handlers use them):
//   - the probe, asked for that format alone, reads a size or nothing, the
//     same from memory as from a FILE* over the same bytes, and leaves that
//     FILE* at its start;
//   - when the probe's size is over kMaxPixels the decoder is not run (that
//     is the limit's job);
//   - otherwise the decoder runs, and any picture it returns must have been
//     recognised by the probe with exactly its size (GIF: a picture inside
//     the logical screen the probe read).
// A decoder that reads a header the probe missed would allocate unchecked:
// that is a failed check here, or an out-of-memory report.
// links: ql_thumbnail ql_test_support
#include <gd.h>
#include <stdio.h>

#include <cstdint>

#include "fuzz_support.h"
#include "thumbnail/ql_image_header_probe.h"

namespace {

using qlfuzz::FuzzCheck;

std::uint64_t const kMaxPixels = 1000000;

struct Decoder {
  unsigned format;
  gdImagePtr (*decode)(int size, void* data);
  bool exact;  // false: the picture lies inside the probed size
};

Decoder const kDecoders[] = {
    {kQLImageJpeg, gdImageCreateFromJpegPtr, true}, {kQLImagePng, gdImageCreateFromPngPtr, true},
    {kQLImageGif, gdImageCreateFromGifPtr, false},  {kQLImageBmp, gdImageCreateFromBmpPtr, true},
    {kQLImageWbmp, gdImageCreateFromWBMPPtr, true},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  for (Decoder const& decoder : kDecoders) {
    QLImageHeader header;
    bool const known = ProbeImageBytes(data, size, decoder.format, &header);
    FuzzCheck(!known || header.format == decoder.format, "only the format asked for");

    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    FuzzCheck(file != nullptr, "fmemopen");
    QLImageHeader from_file;
    bool const known_from_file = ProbeImageFile(file, decoder.format, &from_file);
    FuzzCheck(std::ftell(file) == 0, "the file is left at its start");
    std::fclose(file);
    FuzzCheck(known == known_from_file && header.width == from_file.width &&
                  header.height == from_file.height,
              "memory and file probes agree");

    if (known && header.pixels() > kMaxPixels) continue;
    gdImagePtr picture = decoder.decode(static_cast<int>(size), const_cast<uint8_t*>(data));
    if (!picture) continue;
    std::uint32_t const width = static_cast<std::uint32_t>(gdImageSX(picture));
    std::uint32_t const height = static_cast<std::uint32_t>(gdImageSY(picture));
    gdImageDestroy(picture);
    FuzzCheck(known, "every picture a decoder reads has a header the probe reads");
    if (decoder.exact) {
      FuzzCheck(width == header.width && height == header.height, "the probed size is decoded");
    } else {
      FuzzCheck(width <= header.width && height <= header.height, "inside the probed size");
    }
  }
  return 0;
}
