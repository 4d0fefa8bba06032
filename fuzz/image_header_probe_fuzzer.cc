// Fuzz target for the header probe, checked against the libgd decoders it
// guards (the size limit is only as good as their agreement). For each of the
// JPEG, PNG, GIF, BMP and WBMP decoders: the probe, asked for that format
// alone, reads a size or nothing, the same from memory as from a FILE* over
// the same bytes, which it leaves at its start; unless the probed size is
// over kMaxPixels (then the limit keeps the decoder away), any picture the
// decoder returns must have been recognised by the probe with exactly its
// size (GIF: inside the logical screen the probe read).
#include <gd.h>
#include <stdio.h>

#include <cstdint>

#include "fuzz_support.h"
#include "thumbnail/decode/probe/ql_image_header_probe.h"

using qlfuzz::FuzzCheck;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  struct {
    unsigned format;
    gdImagePtr (*decode)(int size, void* data);
    bool exact;  // false: the picture lies inside the probed size
  } const kDecoders[] = {{kQLImageJpeg, gdImageCreateFromJpegPtr, true},
                         {kQLImagePng, gdImageCreateFromPngPtr, true},
                         {kQLImageGif, gdImageCreateFromGifPtr, false},
                         {kQLImageBmp, gdImageCreateFromBmpPtr, true},
                         {kQLImageWbmp, gdImageCreateFromWBMPPtr, true}};
  std::uint64_t const kMaxPixels = 1000000;
  if (size == 0 || size > (1u << 20)) return 0;
  for (auto const& decoder : kDecoders) {
    QLImageHeader header, from_file;
    bool const known = ProbeImageBytes(data, size, decoder.format, &header);
    FuzzCheck(!known || header.format == decoder.format, "only the format asked for");
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    FuzzCheck(file != nullptr, "fmemopen");
    bool const known_from_file = ProbeImageFile(file, decoder.format, &from_file);
    FuzzCheck(std::ftell(file) == 0, "the file is left at its start");
    std::fclose(file);
    FuzzCheck(known == known_from_file && header.width == from_file.width &&
                  header.height == from_file.height,
              "memory and file probes agree");
    if (known && header.pixels() > kMaxPixels) continue;
    qltest::Picture const picture(
        decoder.decode(static_cast<int>(size), const_cast<uint8_t*>(data)));
    if (!picture) continue;
    std::uint32_t const width = gdImageSX(picture.get()), height = gdImageSY(picture.get());
    FuzzCheck(known, "every picture a decoder reads has a header the probe reads");
    FuzzCheck(decoder.exact ? width == header.width && height == header.height
                            : width <= header.width && height <= header.height,
              "the decoded size is the probed one");
  }
  return 0;
}
