#include "thumbnail/color/ql_embedded_profile.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

using Kind = QLEmbeddedProfile::Kind;
std::uint32_t const kMaxProfile = QLEmbeddedProfile::kMaxProfileBytes;
// Walks stop after this many segments, chunks or boxes: real files have a
// few dozen before their picture data, and a hostile one cannot spin.
int const kMaxSteps = 4096;

std::uint32_t Be16(unsigned char const* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t Be32(unsigned char const* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
std::uint32_t Le32(unsigned char const* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
         p[0];
}

// Reads at absolute offsets of a descriptor, never past the size fstat gave.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > 0)
      size_ = static_cast<std::uint64_t>(st.st_size);
  }
  std::uint64_t size() const { return size_; }
  bool Read(std::uint64_t offset, void* out, std::size_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    auto* bytes = static_cast<unsigned char*>(out);
    while (count > 0) {
      ssize_t const got = pread(fd_, bytes, count, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      bytes += got;
      offset += static_cast<std::uint64_t>(got);
      count -= static_cast<std::size_t>(got);
    }
    return true;
  }
  // `count` bytes into `out`, refusing more than kMaxProfile.
  bool ReadString(std::uint64_t offset, std::uint64_t count, std::string* out) const {
    if (count > kMaxProfile || offset > size_ || count > size_ - offset) return false;
    out->resize(static_cast<std::size_t>(count));
    return Read(offset, &(*out)[0], out->size());
  }

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

QLEmbeddedProfile Broken(std::string problem) {
  QLEmbeddedProfile result;
  result.kind = Kind::kBroken;
  result.problem = std::move(problem);
  return result;
}

QLEmbeddedProfile Icc(std::string bytes) {
  QLEmbeddedProfile result;
  result.kind = Kind::kIcc;
  result.icc = std::move(bytes);
  return result;
}

std::string Oversized(std::uint64_t bytes) {
  return "profile of " + std::to_string(bytes) + " bytes, over the " + std::to_string(kMaxProfile) +
         " taken";
}

// ---- TIFF directories (TIFF files and JPEG's EXIF block) ----

// One directory entry as read: its type, count and where its value lies
// (inline values are at the entry's own value field).
struct TiffEntry {
  std::uint32_t type = 0;
  std::uint32_t count = 0;
  std::uint64_t value_offset = 0;  // absolute
  std::uint32_t inline_value = 0;  // the value field read as a number
};

struct TiffLayout {
  Reader const& in;
  std::uint64_t base;  // where the "II*\0" / "MM\0*" header starts
  bool little;
  std::uint32_t U16(unsigned char const* p) const {
    return little ? (std::uint32_t{p[1]} << 8) | p[0] : Be16(p);
  }
  std::uint32_t U32(unsigned char const* p) const { return little ? Le32(p) : Be32(p); }

  // The entry `tag` of the directory at `ifd` (relative to base).
  bool Find(std::uint32_t ifd, std::uint32_t tag, TiffEntry* out) const {
    unsigned char count_bytes[2];
    if (!in.Read(base + ifd, count_bytes, 2)) return false;
    std::uint32_t const count = U16(count_bytes);
    for (std::uint32_t i = 0; i < count; ++i) {
      unsigned char e[12];
      std::uint64_t const at = base + ifd + 2 + 12ull * i;
      if (!in.Read(at, e, 12)) return false;
      if (U16(e) != tag) continue;
      out->type = U16(e + 2);
      out->count = U32(e + 4);
      out->inline_value = out->type == 3 && out->count == 1 ? U16(e + 8) : U32(e + 8);
      static unsigned const kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
      unsigned const size = out->type < 13 ? kTypeSize[out->type] : 0;
      std::uint64_t const total = std::uint64_t{size} * out->count;
      out->value_offset = total <= 4 ? at + 8 : base + U32(e + 8);
      return size != 0;
    }
    return false;
  }
};

bool OpenTiff(Reader const& in, std::uint64_t base, bool* little, std::uint32_t* first_ifd) {
  unsigned char h[8];
  if (!in.Read(base, h, 8)) return false;
  if (std::memcmp(h, "II*\0", 4) == 0) {
    *little = true;
  } else if (std::memcmp(h, "MM\0*", 4) == 0) {
    *little = false;
  } else {
    return false;
  }
  *first_ifd = *little ? Le32(h + 4) : Be32(h + 4);
  return true;
}

QLEmbeddedProfile ReadTiff(Reader const& in) {
  bool little = false;
  std::uint32_t ifd = 0;
  if (!OpenTiff(in, 0, &little, &ifd)) return {};
  TiffLayout const tiff{in, 0, little};
  TiffEntry entry;
  if (!tiff.Find(ifd, 34675, &entry)) return {};
  if (entry.type != 7 && entry.type != 1)
    return Broken("ICC tag of type " + std::to_string(entry.type));
  if (entry.count > kMaxProfile) return Broken(Oversized(entry.count));
  std::string bytes;
  if (!in.ReadString(entry.value_offset, entry.count, &bytes))
    return Broken("ICC tag past the end of the file");
  return Icc(std::move(bytes));
}

// EXIF's way of saying Adobe RGB: ColorSpace "uncalibrated" and the
// interoperability index "R03" (the DCF option file).
bool ExifSaysAdobeRgb(Reader const& in, std::uint64_t base) {
  bool little = false;
  std::uint32_t ifd0 = 0;
  if (!OpenTiff(in, base, &little, &ifd0)) return false;
  TiffLayout const tiff{in, base, little};
  TiffEntry exif, space, interop, index;
  if (!tiff.Find(ifd0, 0x8769, &exif) || !tiff.Find(exif.inline_value, 0xA001, &space) ||
      space.inline_value != 0xFFFF || !tiff.Find(exif.inline_value, 0xA005, &interop) ||
      !tiff.Find(interop.inline_value, 0x0001, &index) || index.count < 3) {
    return false;
  }
  char text[3];
  return in.Read(index.value_offset, text, 3) && std::memcmp(text, "R03", 3) == 0;
}

// ---- JPEG ----

QLEmbeddedProfile ReadJpeg(Reader const& in) {
  static char const kIccTag[] = "ICC_PROFILE";  // with its NUL: 12 bytes
  std::vector<std::string> parts;               // by sequence number - 1
  std::uint64_t total = 0;
  bool adobe_rgb = false;
  bool cmyk = false;
  std::uint64_t at = 2;
  for (int step = 0; step < kMaxSteps; ++step) {
    unsigned char m[4];
    if (!in.Read(at, m, 4)) break;
    if (m[0] != 0xFF) break;
    if (m[1] == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (m[1] == 0xDA || m[1] == 0xD9) break;  // the scan: no profile comes later
    std::uint32_t const length = Be16(m + 2);
    if (length < 2) break;
    std::uint64_t const body = at + 4;
    std::uint32_t const body_size = length - 2;
    if (m[1] == 0xE2 && body_size >= 14) {
      unsigned char h[14];
      if (in.Read(body, h, 14) && std::memcmp(h, kIccTag, 12) == 0) {
        unsigned const sequence = h[12], count = h[13];
        if (count == 0 || sequence == 0 || sequence > count)
          return Broken("ICC segment numbered " + std::to_string(sequence) + " of " +
                        std::to_string(count));
        if (parts.empty()) parts.resize(count);
        if (parts.size() != count) return Broken("ICC segments disagree on their count");
        if (!parts[sequence - 1].empty())
          return Broken("ICC segment " + std::to_string(sequence) + " twice");
        total += body_size - 14;
        if (total > kMaxProfile) return Broken(Oversized(total));
        if (!in.ReadString(body + 14, body_size - 14, &parts[sequence - 1]) ||
            parts[sequence - 1].empty()) {
          return Broken("ICC segment " + std::to_string(sequence) + " cut off");
        }
      }
    } else if (m[1] >= 0xC0 && m[1] <= 0xCF && m[1] != 0xC4 && m[1] != 0xC8 && m[1] != 0xCC) {
      unsigned char components = 0;  // a frame header: precision, height, width, then this
      cmyk = in.Read(body + 5, &components, 1) && components == 4;
    } else if (m[1] == 0xE1 && body_size > 14 && !adobe_rgb) {
      char h[6];
      adobe_rgb = in.Read(body, h, 6) && std::memcmp(h, "Exif\0\0", 6) == 0 &&
                  ExifSaysAdobeRgb(in, body + 6);
    }
    at = body + body_size;
  }
  QLEmbeddedProfile result;
  result.cmyk_jpeg = cmyk;
  if (parts.empty()) {
    if (adobe_rgb) result.kind = Kind::kAdobeRgb;
    return result;
  }
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].empty())
      return Broken("ICC segment " + std::to_string(i + 1) + " of " + std::to_string(parts.size()) +
                    " missing");
    joined += parts[i];
  }
  result.kind = Kind::kIcc;
  result.icc = std::move(joined);
  return result;
}

// ---- PNG ----

// zlib data of at most kMaxProfile bytes unpacked.
bool Inflate(std::string const& packed, std::string* out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return false;
  std::string result;
  int status = Z_OK;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  while (status == Z_OK) {
    if (result.size() >= kMaxProfile + 1ull) break;
    std::size_t const have = result.size();
    result.resize(std::min<std::size_t>(have + 65536, kMaxProfile + 1ull));
    z.next_out = reinterpret_cast<Bytef*>(&result[have]);
    z.avail_out = static_cast<uInt>(result.size() - have);
    status = inflate(&z, Z_NO_FLUSH);
    result.resize(result.size() - z.avail_out);
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END || result.size() > kMaxProfile) return false;
  *out = std::move(result);
  return true;
}

QLEmbeddedProfile ReadPng(Reader const& in) {
  std::uint64_t at = 8;
  for (int step = 0; step < kMaxSteps; ++step) {
    unsigned char h[8];
    if (!in.Read(at, h, 8)) break;
    std::uint32_t const length = Be32(h);
    if (std::memcmp(h + 4, "IDAT", 4) == 0 || std::memcmp(h + 4, "IEND", 4) == 0) break;
    if (std::memcmp(h + 4, "sRGB", 4) == 0) {
      QLEmbeddedProfile result;
      result.kind = Kind::kSrgb;
      return result;
    }
    if (std::memcmp(h + 4, "iCCP", 4) == 0) {
      if (length > kMaxProfile) return Broken("iCCP chunk of " + std::to_string(length) + " bytes");
      std::string chunk;
      if (!in.ReadString(at + 8, length, &chunk)) return Broken("iCCP chunk cut off");
      std::size_t const name_end = chunk.find('\0');
      if (name_end == std::string::npos || name_end == 0 || name_end > 79 ||
          name_end + 2 > chunk.size() || chunk[name_end + 1] != 0) {
        return Broken("iCCP chunk without a name or of an unknown compression");
      }
      std::string icc;
      if (!Inflate(chunk.substr(name_end + 2), &icc))
        return Broken("iCCP data does not unpack to a profile of at most " +
                      std::to_string(kMaxProfile) + " bytes");
      return Icc(std::move(icc));
    }
    at += 12ull + length;
  }
  return {};
}

// ---- WebP ----

QLEmbeddedProfile ReadWebp(Reader const& in) {
  unsigned char h[12];
  if (!in.Read(0, h, 12) || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WEBP", 4) != 0)
    return {};
  std::uint64_t at = 12;
  for (int step = 0; step < kMaxSteps; ++step) {
    unsigned char c[8];
    if (!in.Read(at, c, 8)) break;
    std::uint32_t const length = Le32(c + 4);
    if (std::memcmp(c, "ICCP", 4) == 0) {
      if (length > kMaxProfile) return Broken(Oversized(length));
      std::string icc;
      if (!in.ReadString(at + 8, length, &icc)) return Broken("ICCP chunk cut off");
      return Icc(std::move(icc));
    }
    // The picture chunks come after ICCP in a valid file.
    if (std::memcmp(c, "VP8 ", 4) == 0 || std::memcmp(c, "VP8L", 4) == 0 ||
        std::memcmp(c, "ANMF", 4) == 0)
      break;
    at += 8ull + length + (length & 1);
  }
  return {};
}

// ---- HEIF, AVIF ----

// A box's extent inside the file.
struct Box {
  char type[4];
  std::uint64_t body = 0;  // first byte after the header
  std::uint64_t end = 0;
};

bool ReadBox(Reader const& in, std::uint64_t at, std::uint64_t limit, Box* box) {
  unsigned char h[16];
  if (at + 8 > limit || !in.Read(at, h, 8)) return false;
  std::memcpy(box->type, h + 4, 4);
  std::uint64_t size = Be32(h);
  box->body = at + 8;
  if (size == 1) {
    if (!in.Read(at + 8, h + 8, 8)) return false;
    size = (std::uint64_t{Be32(h + 8)} << 32) | Be32(h + 12);
    box->body = at + 16;
  } else if (size == 0) {
    size = limit - at;
  }
  box->end = at + size;
  return size >= box->body - at && box->end <= limit;
}

bool FindChild(Reader const& in, std::uint64_t from, std::uint64_t end, char const* type,
               Box* out) {
  for (int step = 0; step < kMaxSteps && ReadBox(in, from, end, out); ++step) {
    if (std::memcmp(out->type, type, 4) == 0) return true;
    if (out->end <= from) return false;
    from = out->end;
  }
  return false;
}

// The 1-based 'ipco' indices of the properties 'ipma' gives `item`. The
// box is read whole when it is at most kMaxIpmaBytes (a few hundred bytes
// even for the tiled photos of phones); a larger one links nothing.
std::uint32_t const kMaxIpmaBytes = 1u << 20;
std::vector<std::uint32_t> PropertiesOf(Reader const& in, Box const& ipma, std::uint32_t item) {
  std::vector<std::uint32_t> found;
  std::string box;
  if (ipma.end - ipma.body > kMaxIpmaBytes ||
      !in.ReadString(ipma.body, ipma.end - ipma.body, &box) || box.size() < 8) {
    return found;
  }
  auto const* p = reinterpret_cast<unsigned char const*>(box.data());
  std::size_t const size = box.size();
  unsigned const id_size = p[0] < 1 ? 2 : 4;
  unsigned const index_size = (p[3] & 1) != 0 ? 2 : 1;
  std::uint32_t const entries = Be32(p + 4);
  std::size_t at = 8;
  for (std::uint32_t e = 0; e < entries && at + id_size + 1 <= size; ++e) {
    std::uint32_t const id = id_size == 2 ? Be16(p + at) : Be32(p + at);
    unsigned const count = p[at + id_size];
    at += id_size + 1;
    if (count * index_size > size - at) break;
    if (id == item) {
      for (unsigned a = 0; a < count; ++a, at += index_size) {
        found.push_back(index_size == 2 ? (Be16(p + at) & 0x7FFF) : (p[at] & 0x7Fu));
      }
      break;
    }
    at += count * index_size;
  }
  return found;
}

QLEmbeddedProfile ReadColr(Reader const& in, Box const& colr) {
  unsigned char type[4];
  if (!in.Read(colr.body, type, 4)) return {};
  if (std::memcmp(type, "nclx", 4) == 0) {
    unsigned char n[4];
    if (!in.Read(colr.body + 4, n, 4)) return {};
    QLEmbeddedProfile result;
    result.kind = Kind::kNclx;
    result.primaries = static_cast<std::uint16_t>(Be16(n));
    result.transfer = static_cast<std::uint16_t>(Be16(n + 2));
    return result;
  }
  if (std::memcmp(type, "prof", 4) != 0 && std::memcmp(type, "rICC", 4) != 0) return {};
  std::uint64_t const size = colr.end - colr.body - 4;
  if (size > kMaxProfile) return Broken(Oversized(size));
  std::string icc;
  if (!in.ReadString(colr.body + 4, size, &icc)) return Broken("colr profile cut off");
  return Icc(std::move(icc));
}

QLEmbeddedProfile ReadIsobmff(Reader const& in) {
  Box meta, pitm, iprp, ipco, ipma, child;
  if (!FindChild(in, 0, in.size(), "meta", &meta)) return {};
  std::uint64_t const start = meta.body + 4;  // version and flags
  if (!FindChild(in, start, meta.end, "iprp", &iprp) ||
      !FindChild(in, iprp.body, iprp.end, "ipco", &ipco)) {
    return {};
  }
  std::vector<std::uint32_t> wanted;
  unsigned char p[8] = {};
  if (FindChild(in, start, meta.end, "pitm", &pitm) && in.Read(pitm.body, p, 1) &&
      in.Read(pitm.body + 4, p + 4, p[0] == 0 ? 2 : 4) &&
      FindChild(in, iprp.body, iprp.end, "ipma", &ipma)) {
    wanted = PropertiesOf(in, ipma, p[0] == 0 ? Be16(p + 4) : Be32(p + 4));
  }
  // The primary item's 'colr' properties: an ICC profile wins over code
  // points when both are there, as the format allows one of each.
  QLEmbeddedProfile best;
  std::uint64_t at = ipco.body;
  for (std::uint32_t index = 1;
       index <= static_cast<std::uint32_t>(kMaxSteps) && ReadBox(in, at, ipco.end, &child);
       ++index) {
    bool const linked =
        wanted.empty() || std::find(wanted.begin(), wanted.end(), index) != wanted.end();
    if (linked && std::memcmp(child.type, "colr", 4) == 0) {
      QLEmbeddedProfile found = ReadColr(in, child);
      if (found.kind == Kind::kIcc || found.kind == Kind::kBroken) return found;
      if (found.kind == Kind::kNclx) best = found;
    }
    if (child.end <= at) break;
    at = child.end;
  }
  return best;
}

}  // namespace

QLEmbeddedProfile ReadEmbeddedProfile(int fd, QLProfileContainer container) {
  Reader const in(fd);
  switch (container) {
    case QLProfileContainer::kJpeg:
      return ReadJpeg(in);
    case QLProfileContainer::kPng:
      return ReadPng(in);
    case QLProfileContainer::kWebp:
      return ReadWebp(in);
    case QLProfileContainer::kTiff:
      return ReadTiff(in);
    case QLProfileContainer::kHeif:
      return ReadIsobmff(in);
    case QLProfileContainer::kNone:
      break;
  }
  return {};
}
