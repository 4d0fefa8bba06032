#include "thumbnail/decode/probe/ql_tiff_probe.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ql_probe {
namespace {

std::uint32_t const kMaxIfdEntries = 4096;  // no real first directory has more

}  // namespace

bool ReadFirstIfd(ByteSource& in, std::uint32_t length, TiffFields* fields) {
  unsigned char head[8];
  if (length < sizeof head || !in.Read(head, sizeof head)) return false;
  bool little;
  if (std::memcmp(head, "II*\0", 4) == 0) {
    little = true;
  } else if (std::memcmp(head, "MM\0*", 4) == 0) {
    little = false;
  } else {
    return false;
  }
  auto u16 = [little](unsigned char const* p) {
    return little ? LittleEndian16(p) : BigEndian16(p);
  };
  auto u32 = [little](unsigned char const* p) {
    return little ? LittleEndian32(p) : BigEndian32(p);
  };
  std::uint32_t const offset = u32(head + 4);
  if (offset < sizeof head || offset > length - 2) return false;
  if (!in.Skip(offset - sizeof head)) return false;
  unsigned char count_bytes[2];
  if (!in.Read(count_bytes, 2)) return false;
  std::uint32_t const count = u16(count_bytes);
  if (count > kMaxIfdEntries || std::uint64_t{count} * 12 > length - offset - 2) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    unsigned char entry[12];  // tag, type, count, value
    if (!in.Read(entry, sizeof entry)) return false;
    std::uint32_t const tag = u16(entry);
    std::uint32_t const type = u16(entry + 2);
    // A SHORT sits in the first two bytes of the value field.
    std::uint32_t value;
    if (type == 3) {
      value = u16(entry + 8);
    } else if (type == 4) {
      value = u32(entry + 8);
    } else {
      continue;
    }
    if (tag == 256) {
      fields->width = fields->has_width ? std::max(fields->width, value) : value;
      fields->has_width = true;
    } else if (tag == 257) {
      fields->height = fields->has_height ? std::max(fields->height, value) : value;
      fields->has_height = true;
    } else if (tag == 274 && type == 3) {
      fields->orientation = static_cast<int>(value);
    } else if (tag == 258 && type == 3) {
      fields->bits_per_sample = value;
    }
  }
  return true;
}

bool ProbeTiff(ByteSource& in, QLImageHeader* header) {
  TiffFields fields;
  if (!ReadFirstIfd(in, UINT32_MAX, &fields) || !fields.has_width || !fields.has_height) {
    return false;
  }
  header->format = kQLImageTiff;
  header->width = fields.width;
  header->height = fields.height;
  // libgd's reader already mirrors what the tag asks for (left-right for 2
  // and 6, both ways for 3 and 7, top-bottom for 4 and 8) except in 1-bit
  // pictures, which it reads as stored; what remains is the turn that
  // completes the tag's orientation.
  static int const kAfterLibgdMirror[9] = {1, 1, 1, 1, 1, 5, 7, 5, 7};
  int const tag = fields.orientation;
  if (tag >= 1 && tag <= 8) {
    header->orientation = fields.bits_per_sample == 1 ? tag : kAfterLibgdMirror[tag];
  }
  return true;
}

}  // namespace ql_probe
