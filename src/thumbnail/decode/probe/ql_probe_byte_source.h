// The byte sources the picture-header probes (ql_image_header_probe.h) read
// through, and the fixed-width integers of the headers they walk. Shared by
// the probe of each container; nothing else includes it.
#ifndef QUORLIN_THUMBNAIL_DECODE_PROBE_QL_PROBE_BYTE_SOURCE_H_
#define QUORLIN_THUMBNAIL_DECODE_PROBE_QL_PROBE_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ql_probe {

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

inline std::uint32_t BigEndian16(unsigned char const* p) {
  return (std::uint32_t{p[0]} << 8) | p[1];
}
inline std::uint32_t LittleEndian16(unsigned char const* p) {
  return (std::uint32_t{p[1]} << 8) | p[0];
}
inline std::uint32_t BigEndian32(unsigned char const* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
inline std::uint32_t LittleEndian32(unsigned char const* p) {
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
         p[0];
}

inline bool FourCC(unsigned char const* p, char const* code) {
  return std::memcmp(p, code, 4) == 0;
}

}  // namespace ql_probe

#endif  // QUORLIN_THUMBNAIL_DECODE_PROBE_QL_PROBE_BYTE_SOURCE_H_
