#include "thumbnail/decode/probe/ql_image_header_probe.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "log/ql_log.h"
#include "thumbnail/decode/probe/ql_isobmff_probe.h"
#include "thumbnail/decode/probe/ql_probe_byte_source.h"
#include "thumbnail/decode/probe/ql_tiff_probe.h"
#include "thumbnail/decode/probe/ql_webp_probe.h"

// JPEG, PNG, GIF, BMP, WBMP and GD2 are read here; the containers that take
// a walk have a unit each.
namespace ql_probe {
namespace {

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
}  // namespace ql_probe

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
  ql_probe::FileSource source(file);
  bool const found = ql_probe::Probe(source, formats, header);
  source.Rewind();
  return found;
}

bool ProbeImageBytes(void const* bytes, std::size_t size, unsigned formats, QLImageHeader* header) {
  if (!header) return false;
  ql_probe::MemorySource source(bytes, size);
  return ql_probe::Probe(source, formats, header);
}

bool SourcePictureOverLimit(QLImageHeader const& header, std::uint64_t max_pixels,
                            std::string const& what) {
  if (header.format == 0 || header.pixels() <= max_pixels) return false;
  QL_ERROR(what << " is a " << ImageFormatName(header.format) << " picture of " << header.width
                << "x" << header.height << " pixels, more than the " << max_pixels
                << " allowed; it is not decoded.");
  return true;
}
