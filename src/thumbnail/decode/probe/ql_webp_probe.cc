#include "thumbnail/decode/probe/ql_webp_probe.h"

#include <cstdint>
#include <cstring>

#include "thumbnail/decode/probe/ql_tiff_probe.h"

namespace ql_probe {
namespace {

std::uint32_t const kMaxWebpChunks = 64;

// The Orientation of the EXIF chunk that follows the image data of an
// extended WebP, if there is one; 1 otherwise. `in` is after the VP8X chunk.
int WebpExifOrientation(ByteSource& in) {
  for (std::uint32_t chunks = 0; chunks < kMaxWebpChunks; ++chunks) {
    unsigned char chunk[8];
    if (!in.Read(chunk, sizeof chunk)) return 1;
    std::uint32_t const size = LittleEndian32(chunk + 4);
    if (FourCC(chunk, "EXIF")) {
      // Some writers keep the "Exif\0\0" of a JPEG segment in front.
      unsigned char prefix[6];
      if (size < sizeof prefix || !in.Read(prefix, sizeof prefix)) return 1;
      TiffFields fields;
      if (std::memcmp(prefix, "Exif\0\0", 6) == 0) {
        if (!ReadFirstIfd(in, size - 6, &fields)) return 1;
      } else {
        MemorySource start(prefix, sizeof prefix);
        PrefixedSource joined(start, in);
        if (!ReadFirstIfd(joined, size, &fields)) return 1;
      }
      return fields.orientation;
    }
    if (!in.Skip(size + (size & 1))) return 1;
  }
  return 1;
}

}  // namespace

bool ProbeWebp(ByteSource& in, QLImageHeader* header) {
  unsigned char bytes[30];  // RIFF header, first chunk header, its first 10 bytes
  if (!in.Read(bytes, sizeof bytes) || !FourCC(bytes, "RIFF") || !FourCC(bytes + 8, "WEBP")) {
    return false;
  }
  unsigned char const* chunk = bytes + 12;
  unsigned char const* body = bytes + 20;
  if (FourCC(chunk, "VP8 ")) {
    // A frame tag, the start code, then 14-bit width and height.
    if (body[3] != 0x9D || body[4] != 0x01 || body[5] != 0x2A) return false;
    header->width = LittleEndian16(body + 6) & 0x3FFF;
    header->height = LittleEndian16(body + 8) & 0x3FFF;
  } else if (FourCC(chunk, "VP8L")) {
    // The signature byte, then width - 1 and height - 1 in 14 bits each.
    if (body[0] != 0x2F) return false;
    std::uint32_t const bits = LittleEndian32(body + 1);
    header->width = (bits & 0x3FFF) + 1;
    header->height = ((bits >> 14) & 0x3FFF) + 1;
  } else if (FourCC(chunk, "VP8X")) {
    // Flags, three reserved bytes, canvas width - 1 and height - 1 in 24 bits.
    std::uint32_t const size = LittleEndian32(chunk + 4);
    if (size < 10) return false;
    header->width = (body[4] | (std::uint32_t{body[5]} << 8) | (std::uint32_t{body[6]} << 16)) + 1;
    header->height = (body[7] | (std::uint32_t{body[8]} << 8) | (std::uint32_t{body[9]} << 16)) + 1;
    bool const has_exif = (body[0] & 0x08) != 0;
    header->animated = (body[0] & 0x02) != 0;
    if (has_exif && in.Skip(size + (size & 1) - 10)) header->orientation = WebpExifOrientation(in);
  } else {
    return false;
  }
  header->format = kQLImageWebp;
  return true;
}

}  // namespace ql_probe
