// The picture sizes are the 'ispe' properties in meta/iprp/ipco. Every item
// (the primary picture, its grid tiles, thumbnails, depth and alpha planes)
// has one; the largest counts, so no item the decoder might build is over
// the limit. A file without any 'ispe' is not recognised.
//
// libgd decodes both formats without their rotation ('irot') and mirroring
// ('imir'), so the probe turns those of the primary item ('pitm', linked in
// 'ipma') into the EXIF orientation that shows the picture the same way. A
// 'pitm' after the 'ipma' (no writer puts it there) leaves the picture as
// stored.
#include "thumbnail/decode/probe/ql_isobmff_probe.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ql_probe {
namespace {

// Skips a 64-bit count in pieces Skip() can take.
bool SkipLong(ByteSource& in, std::uint64_t count) {
  std::uint32_t const kPiece = 1u << 30;
  for (; count > kPiece; count -= kPiece) {
    if (!in.Skip(kPiece)) return false;
  }
  return in.Skip(static_cast<std::uint32_t>(count));
}

std::uint32_t const kMaxBoxes = 4096;        // boxes visited in one file, all levels
std::uint32_t const kMaxIpmaEntries = 4096;  // items whose properties are looked at
std::uint32_t const kMaxTransforms = 16;     // 'irot'/'imir' properties remembered

struct BoxScan {
  std::uint32_t boxes = 0;
  bool found = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool has_primary = false;
  std::uint32_t primary = 0;
  std::uint32_t properties = 0;  // 'ipco' children so far; their 1-based index
  struct Transform {
    std::uint32_t index;
    bool mirror;  // 'imir' (else 'irot')
    unsigned
        value;  // mirror: 0 top to bottom, 1 left to right; rotation: quarter turns anticlockwise
  } transforms[kMaxTransforms];
  std::uint32_t transform_count = 0;
  int rotation = 0;  // of the primary item
  int mirror = -1;   // of the primary item; -1: none
};

// The EXIF orientation of a turn by `quarter_turns` anticlockwise followed
// by the mirroring `mirror` (-1 none, 0 top to bottom, 1 left to right),
// the order in which the two properties apply.
int OrientationOf(int quarter_turns, int mirror) {
  static int const kTable[4][3] = {{1, 4, 2}, {8, 5, 7}, {3, 2, 4}, {6, 7, 5}};
  return kTable[quarter_turns & 3][mirror + 1];
}

bool ReadUnsigned(ByteSource& in, std::size_t bytes, std::uint64_t* left, std::uint32_t* value) {
  unsigned char buffer[4];
  if (*left < bytes || !in.Read(buffer, bytes)) return false;
  *left -= bytes;
  *value = 0;
  for (std::size_t i = 0; i < bytes; ++i) *value = (*value << 8) | buffer[i];
  return true;
}

// 'pitm': version and flags, the item number (16 bits in version 0).
bool ReadPrimaryItem(ByteSource& in, std::uint64_t body, BoxScan* scan) {
  std::uint32_t version_flags = 0;
  if (!ReadUnsigned(in, 4, &body, &version_flags)) return false;
  if (!ReadUnsigned(in, (version_flags >> 24) == 0 ? 2 : 4, &body, &scan->primary)) return false;
  scan->has_primary = true;
  return SkipLong(in, body);
}

// 'ipma': for each item its property indices (7 bits, or 15 with flag 1,
// under an "essential" bit). Only the primary item's entry is used.
bool ReadAssociations(ByteSource& in, std::uint64_t body, BoxScan* scan) {
  std::uint32_t version_flags = 0, entries = 0;
  if (!ReadUnsigned(in, 4, &body, &version_flags) || !ReadUnsigned(in, 4, &body, &entries)) {
    return false;
  }
  std::size_t const id_bytes = (version_flags >> 24) == 0 ? 2 : 4;
  std::size_t const index_bytes = (version_flags & 1) ? 2 : 1;
  std::uint32_t const index_mask = (version_flags & 1) ? 0x7FFF : 0x7F;
  for (std::uint32_t e = 0; e < entries && e < kMaxIpmaEntries && scan->has_primary; ++e) {
    std::uint32_t item = 0, count = 0;
    if (!ReadUnsigned(in, id_bytes, &body, &item) || !ReadUnsigned(in, 1, &body, &count)) {
      return false;
    }
    for (std::uint32_t a = 0; a < count; ++a) {
      std::uint32_t association = 0;
      if (!ReadUnsigned(in, index_bytes, &body, &association)) return false;
      if (item != scan->primary) continue;
      for (std::uint32_t t = 0; t < scan->transform_count; ++t) {
        BoxScan::Transform const& transform = scan->transforms[t];
        if (transform.index != (association & index_mask)) continue;
        if (transform.mirror) {
          scan->mirror = static_cast<int>(transform.value);
        } else {
          scan->rotation = static_cast<int>(transform.value);
        }
      }
    }
    if (item == scan->primary) break;
  }
  return SkipLong(in, body);
}

// An 'ipco' child: 'ispe' sizes count toward the limit, 'irot' and 'imir'
// are remembered by their index.
bool ReadProperty(ByteSource& in, unsigned char const* type, std::uint64_t body, BoxScan* scan) {
  std::uint32_t const index = ++scan->properties;
  if (FourCC(type, "ispe")) {
    std::uint32_t version_flags = 0, width = 0, height = 0;
    if (!ReadUnsigned(in, 4, &body, &version_flags) || !ReadUnsigned(in, 4, &body, &width) ||
        !ReadUnsigned(in, 4, &body, &height)) {
      return false;
    }
    if (!scan->found || std::uint64_t{width} * height > std::uint64_t{scan->width} * scan->height) {
      scan->width = width;
      scan->height = height;
    }
    scan->found = true;
  } else if ((FourCC(type, "irot") || FourCC(type, "imir")) &&
             scan->transform_count < kMaxTransforms) {
    std::uint32_t value = 0;
    if (!ReadUnsigned(in, 1, &body, &value)) return false;
    bool const mirror = FourCC(type, "imir");
    scan->transforms[scan->transform_count++] = {index, mirror, value & (mirror ? 1u : 3u)};
  }
  return SkipLong(in, body);
}

// Walks the boxes in the next `length` bytes (all of the rest when
// `to_end`), descending into the containers that lead to the properties.
// False on malformed or truncated structure before the 'meta' walk is done.
bool ScanBoxes(ByteSource& in, std::uint64_t length, bool to_end, int depth, BoxScan* scan) {
  while (to_end || length > 0) {
    if (++scan->boxes > kMaxBoxes) return false;
    unsigned char box[8];
    if (!in.Read(box, 8)) return to_end && scan->found;  // the end of the file
    std::uint64_t size = BigEndian32(box);
    std::uint64_t header_size = 8;
    if (size == 1) {
      unsigned char large[8];
      if (!in.Read(large, 8)) return false;
      size = (std::uint64_t{BigEndian32(large)} << 32) | BigEndian32(large + 4);
      header_size = 16;
    } else if (size == 0) {
      if (!to_end) return false;  // "to the end of the file" inside a box
      size = UINT64_MAX;
    }
    if (size < header_size || (!to_end && size > length)) return false;
    std::uint64_t const body = size - header_size;
    if (!to_end) length -= size;
    unsigned char const* type = box + 4;
    bool const container = (FourCC(type, "meta") && depth == 0) ||
                           (FourCC(type, "iprp") && depth == 1) ||
                           (FourCC(type, "ipco") && depth == 2);
    if (container) {
      std::uint64_t inner = body;
      if (FourCC(type, "meta")) {  // a full box: version and flags first
        if (inner < 4 || !in.Skip(4)) return false;
        inner -= 4;
      }
      bool const walked = size == UINT64_MAX ? ScanBoxes(in, 0, true, depth + 1, scan)
                                             : ScanBoxes(in, inner, false, depth + 1, scan);
      if (!walked) return false;
      // The one 'meta' holds every property; nothing after it counts.
      if (depth == 0) return scan->found;
      if (size == UINT64_MAX) return true;
      continue;
    }
    if (size == UINT64_MAX) return to_end && depth == 0 ? scan->found : false;
    bool read;
    if (depth == 3) {
      read = ReadProperty(in, type, body, scan);
    } else if (FourCC(type, "pitm") && depth == 1) {
      read = ReadPrimaryItem(in, body, scan);
    } else if (FourCC(type, "ipma") && depth == 2) {
      read = ReadAssociations(in, body, scan);
    } else {
      read = SkipLong(in, body);
    }
    if (!read) return false;
  }
  return true;
}

char const* const kAvifBrands[] = {"avif", "avis", nullptr};

// The file type box must come first and name one of `brands`. AVIF files
// name the general HEIF brand "mif1" too; the AVIF brands make them AVIF.
bool ProbeIsobmff(ByteSource& in, char const* const* brands, unsigned format,
                  QLImageHeader* header) {
  unsigned char box[16];  // size, "ftyp", major brand, minor version
  if (!in.Read(box, sizeof box) || !FourCC(box + 4, "ftyp")) return false;
  std::uint32_t const size = BigEndian32(box);
  if (size < sizeof box || size > 4096 || (size - sizeof box) % 4 != 0) return false;
  auto in_list = [](unsigned char const* brand, char const* const* list) {
    for (char const* const* b = list; *b; ++b) {
      if (FourCC(brand, *b)) return true;
    }
    return false;
  };
  // The major brand, then the compatible ones.
  bool branded = in_list(box + 8, brands);
  bool avif = in_list(box + 8, kAvifBrands);
  for (std::uint32_t left = (size - sizeof box) / 4; left > 0; --left) {
    unsigned char brand[4];
    if (!in.Read(brand, sizeof brand)) return false;
    branded = branded || in_list(brand, brands);
    avif = avif || in_list(brand, kAvifBrands);
  }
  if (avif != (format == kQLImageAvif)) return false;
  BoxScan scan;
  if (!branded || !ScanBoxes(in, 0, true, 0, &scan) || !scan.found) return false;
  header->format = format;
  header->width = scan.width;
  header->height = scan.height;
  header->orientation = OrientationOf(scan.rotation, scan.mirror);
  return true;
}

}  // namespace

bool ProbeHeif(ByteSource& in, QLImageHeader* header) {
  static char const* const kBrands[] = {"mif1", "msf1", "heic", "heix", "heim",
                                        "heis", "hevc", "hevx", nullptr};
  return ProbeIsobmff(in, kBrands, kQLImageHeif, header);
}

bool ProbeAvif(ByteSource& in, QLImageHeader* header) {
  return ProbeIsobmff(in, kAvifBrands, kQLImageAvif, header);
}

}  // namespace ql_probe
