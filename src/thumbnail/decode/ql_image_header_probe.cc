#include "thumbnail/decode/ql_image_header_probe.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log/ql_log.h"

namespace {

// Sequential, bounded access to the data being probed. Every read reports
// running out of data instead of going past it.
class ByteSource {
 public:
  virtual ~ByteSource() {}
  // The next byte, or -1 at the end of the data.
  virtual int Get() = 0;
  // Skips `count` bytes; false when the data ends first.
  virtual bool Skip(std::uint32_t count) = 0;
  // Back to the first byte.
  virtual bool Rewind() = 0;

  bool Read(unsigned char* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      int const c = Get();
      if (c < 0) return false;
      out[i] = static_cast<unsigned char>(c);
    }
    return true;
  }
};

class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  int Get() override {
    int const c = std::getc(file_);
    return c == EOF ? -1 : c;
  }
  bool Skip(std::uint32_t count) override {
    // Seeking past the end succeeds on a regular file, so a skip is
    // confirmed by reading the last skipped byte.
    if (count == 0) return true;
    if (std::fseek(file_, static_cast<long>(count) - 1, SEEK_CUR) != 0) return false;
    return Get() >= 0;
  }
  bool Rewind() override {
    std::clearerr(file_);
    return std::fseek(file_, 0, SEEK_SET) == 0;
  }

 private:
  std::FILE* file_;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(void const* bytes, std::size_t size)
      : bytes_(static_cast<unsigned char const*>(bytes)), size_(bytes ? size : 0) {}
  int Get() override { return position_ < size_ ? bytes_[position_++] : -1; }
  bool Skip(std::uint32_t count) override {
    if (count > size_ - position_) {
      position_ = size_;
      return false;
    }
    position_ += count;
    return true;
  }
  bool Rewind() override {
    position_ = 0;
    return true;
  }

 private:
  unsigned char const* bytes_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// `prefix`, then `rest`: bytes already read put back in front. Cannot rewind.
class PrefixedSource : public ByteSource {
 public:
  PrefixedSource(ByteSource& prefix, ByteSource& rest) : prefix_(prefix), rest_(rest) {}
  int Get() override {
    int const c = prefix_.Get();
    return c >= 0 ? c : rest_.Get();
  }
  bool Skip(std::uint32_t count) override {
    for (; count > 0; --count) {
      if (prefix_.Get() < 0) return rest_.Skip(count);
    }
    return true;
  }
  bool Rewind() override { return false; }

 private:
  ByteSource& prefix_;
  ByteSource& rest_;
};

std::uint32_t BigEndian16(unsigned char const* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t LittleEndian16(unsigned char const* p) { return (std::uint32_t{p[1]} << 8) | p[0]; }
std::uint32_t BigEndian32(unsigned char const* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
std::uint32_t LittleEndian32(unsigned char const* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
         p[0];
}

// The magnitude of a two's-complement value, without overflow at the minimum.
std::uint32_t Magnitude32(std::uint32_t bits) { return (bits & 0x80000000u) ? (~bits + 1u) : bits; }
std::uint32_t Magnitude16(std::uint32_t bits) {
  return (bits & 0x8000u) ? (0x10000u - bits) : bits;
}

bool IsStartOfFrame(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool ProbeJpeg(ByteSource& in, QLImageHeader* header) {
  unsigned char start[2];
  if (!in.Read(start, 2) || start[0] != 0xFF || start[1] != 0xD8) return false;
  for (;;) {
    // Like libjpeg: anything up to the next 0xFF is skipped, fill bytes
    // (repeated 0xFF) are ignored, and 0xFF 0x00 is no marker.
    int c = in.Get();
    while (c >= 0 && c != 0xFF) c = in.Get();
    while (c == 0xFF) c = in.Get();
    if (c < 0) return false;
    if (c == 0x00) continue;
    int const marker = c;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length field
    // A second start of image, the end of image or the scan before any frame
    // header: libjpeg gives up here.
    if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return false;
    unsigned char length_bytes[2];
    if (!in.Read(length_bytes, 2)) return false;
    std::uint32_t const length = BigEndian16(length_bytes);
    if (length < 2) return false;
    if (IsStartOfFrame(marker)) {
      unsigned char frame[5];  // precision, height, width
      if (length < 2 + sizeof frame || !in.Read(frame, sizeof frame)) return false;
      header->format = kQLImageJpeg;
      header->height = BigEndian16(frame + 1);
      header->width = BigEndian16(frame + 3);
      return true;
    }
    if (!in.Skip(length - 2)) return false;
  }
}

bool ProbePng(ByteSource& in, QLImageHeader* header) {
  static unsigned char const kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  unsigned char bytes[24];  // signature, IHDR length and type, width, height
  if (!in.Read(bytes, sizeof bytes)) return false;
  if (std::memcmp(bytes, kSignature, 8) != 0 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
    return false;
  }
  header->format = kQLImagePng;
  header->width = BigEndian32(bytes + 16);
  header->height = BigEndian32(bytes + 20);
  return true;
}

bool ProbeGif(ByteSource& in, QLImageHeader* header) {
  unsigned char bytes[10];  // signature and version, screen width and height
  if (!in.Read(bytes, sizeof bytes)) return false;
  if (std::memcmp(bytes, "GIF87a", 6) != 0 && std::memcmp(bytes, "GIF89a", 6) != 0) return false;
  header->format = kQLImageGif;
  header->width = LittleEndian16(bytes + 6);
  header->height = LittleEndian16(bytes + 8);
  return true;
}

bool ProbeBmp(ByteSource& in, QLImageHeader* header) {
  unsigned char bytes[26];  // file header (14), info header size, width, height
  if (!in.Read(bytes, 22) || bytes[0] != 'B' || bytes[1] != 'M') return false;
  std::uint32_t const info_size = LittleEndian32(bytes + 14);
  if (info_size == 12) {
    header->format = kQLImageBmp;
    header->width = Magnitude16(LittleEndian16(bytes + 18));
    header->height = Magnitude16(LittleEndian16(bytes + 20));
    return true;
  }
  if (info_size < 16 || !in.Read(bytes + 22, 4)) return false;
  header->format = kQLImageBmp;
  header->width = Magnitude32(LittleEndian32(bytes + 18));
  header->height = Magnitude32(LittleEndian32(bytes + 22));
  return true;
}

// libgd's multi-byte integer: 7 bits per byte, high bit set on all but the
// last, accumulated in an int. Reproduced with its wrap-around so the value
// is the one the decoder sees.
bool ReadMultiByte(ByteSource& in, std::uint32_t* value) {
  std::uint32_t result = 0;
  int c;
  do {
    c = in.Get();
    if (c < 0) return false;
    result = (result << 7) | (static_cast<std::uint32_t>(c) & 0x7F);
  } while (c & 0x80);
  *value = result;
  return true;
}

bool ProbeWbmp(ByteSource& in, QLImageHeader* header) {
  std::uint32_t width = 0, height = 0;
  if (in.Get() != 0) return false;  // type 0, as one byte: libgd reads no other
  int c;
  do {  // the fixed header byte and any extension bytes
    c = in.Get();
    if (c < 0) return false;
  } while (c & 0x80);
  if (!ReadMultiByte(in, &width) || !ReadMultiByte(in, &height)) return false;
  header->format = kQLImageWbmp;
  // The decoder refuses sizes that are not positive as an int.
  header->width = (width & 0x80000000u) ? 0 : width;
  header->height = (height & 0x80000000u) ? 0 : height;
  return true;
}

bool ProbeGd2(ByteSource& in, QLImageHeader* header) {
  unsigned char bytes[10];  // "gd2\0", version, width, height
  if (!in.Read(bytes, sizeof bytes) || std::memcmp(bytes, "gd2", 4) != 0) return false;
  header->format = kQLImageGd2;
  header->width = BigEndian16(bytes + 6);
  header->height = BigEndian16(bytes + 8);
  return true;
}

// Skips a 64-bit count in pieces Skip() can take.
bool SkipLong(ByteSource& in, std::uint64_t count) {
  std::uint32_t const kPiece = 1u << 30;
  for (; count > kPiece; count -= kPiece) {
    if (!in.Skip(kPiece)) return false;
  }
  return in.Skip(static_cast<std::uint32_t>(count));
}

// --- ISOBMFF (HEIF, AVIF) ---------------------------------------------------
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

bool FourCC(unsigned char const* p, char const* code) { return std::memcmp(p, code, 4) == 0; }

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

bool ProbeHeif(ByteSource& in, QLImageHeader* header) {
  static char const* const kBrands[] = {"mif1", "msf1", "heic", "heix", "heim",
                                        "heis", "hevc", "hevx", nullptr};
  return ProbeIsobmff(in, kBrands, kQLImageHeif, header);
}

bool ProbeAvif(ByteSource& in, QLImageHeader* header) {
  return ProbeIsobmff(in, kAvifBrands, kQLImageAvif, header);
}

// --- TIFF structure (TIFF files, EXIF blocks) -------------------------------

std::uint32_t const kMaxIfdEntries = 4096;  // no real first directory has more

struct TiffFields {
  bool has_width = false;
  bool has_height = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int orientation = 1;
  std::uint32_t bits_per_sample = 1;  // the first value; 1 when the tag is missing
};

// Reads the TIFF header and the entries of its first directory from `in`,
// which is at the header. `length`: bytes available from there (UINT32_MAX
// for a whole file). Only a directory after the header can be reached, as
// the data is read front to back. Several entries for one size tag: the
// largest counts.
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

// --- WebP ---------------------------------------------------------------------

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
    if (has_exif && in.Skip(size + (size & 1) - 10)) header->orientation = WebpExifOrientation(in);
  } else {
    return false;
  }
  header->format = kQLImageWebp;
  return true;
}

bool Probe(ByteSource& in, unsigned formats, QLImageHeader* header) {
  struct {
    unsigned format;
    bool (*probe)(ByteSource&, QLImageHeader*);
  } static const kProbes[] = {{kQLImageJpeg, ProbeJpeg}, {kQLImagePng, ProbePng},
                              {kQLImageGif, ProbeGif},   {kQLImageBmp, ProbeBmp},
                              {kQLImageGd2, ProbeGd2},   {kQLImageWbmp, ProbeWbmp},
                              {kQLImageHeif, ProbeHeif}, {kQLImageAvif, ProbeAvif},
                              {kQLImageWebp, ProbeWebp}, {kQLImageTiff, ProbeTiff}};
  for (auto const& entry : kProbes) {
    if (!(formats & entry.format)) continue;
    if (!in.Rewind()) return false;
    QLImageHeader found;
    if (entry.probe(in, &found)) {
      *header = found;
      return true;
    }
  }
  return false;
}

}  // namespace

char const* ImageFormatName(unsigned format) {
  switch (format) {
    case kQLImageJpeg:
      return "JPEG";
    case kQLImagePng:
      return "PNG";
    case kQLImageGif:
      return "GIF";
    case kQLImageBmp:
      return "BMP";
    case kQLImageWbmp:
      return "WBMP";
    case kQLImageGd2:
      return "GD2";
    case kQLImageHeif:
      return "HEIF";
    case kQLImageAvif:
      return "AVIF";
    case kQLImageWebp:
      return "WebP";
    case kQLImageTiff:
      return "TIFF";
    default:
      return "unknown";
  }
}

bool ProbeImageFile(std::FILE* file, unsigned formats, QLImageHeader* header) {
  if (!file || !header) return false;
  FileSource source(file);
  bool const found = Probe(source, formats, header);
  source.Rewind();
  return found;
}

bool ProbeImageBytes(void const* bytes, std::size_t size, unsigned formats, QLImageHeader* header) {
  if (!header) return false;
  MemorySource source(bytes, size);
  return Probe(source, formats, header);
}

bool SourcePictureOverLimit(QLImageHeader const& header, std::uint64_t max_pixels,
                            std::string const& what) {
  if (header.format == 0 || header.pixels() <= max_pixels) return false;
  QL_ERROR(what << " is a " << ImageFormatName(header.format) << " picture of " << header.width
                << "x" << header.height << " pixels, more than the " << max_pixels
                << " allowed; it is not decoded.");
  return true;
}
