#include "thumbnail/decode/probe/ql_id3_tag_probe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "thumbnail/ql_regular_file.h"

namespace {

std::size_t const kTagHeaderBytes = 10;
std::size_t const kId3v1Bytes = 128;
unsigned char const kFooterPresentFlag = 0x10;

// Reads exactly `size` bytes at `offset`; false on error or end of file.
bool ReadAt(int fd, std::uint64_t offset, unsigned char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t const got = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

enum class TagEnd { kHeader, kFooter };

// The whole size (header, body, footer) a 10-byte tag header or footer
// claims, or 0 when the bytes are not one. Accepts what libid3tag accepts:
// version and revision bytes other than 0xff, and four size bytes below 0x80.
// The library steps back from a footer as if a footer were always announced,
// whatever its flags say, so a footer always counts it.
std::uint64_t ClaimedTagSize(unsigned char const* bytes, TagEnd end) {
  char const* const id = end == TagEnd::kHeader ? "ID3" : "3DI";
  if (std::memcmp(bytes, id, 3) != 0) return 0;
  if (bytes[3] == 0xff || bytes[4] == 0xff) return 0;
  std::uint64_t body = 0;
  for (int i = 6; i < 10; ++i) {
    if (bytes[i] & 0x80) return 0;
    body = (body << 7) | bytes[i];
  }
  std::uint64_t size = kTagHeaderBytes + body;
  if (end == TagEnd::kFooter || (bytes[5] & kFooterPresentFlag)) size += kTagHeaderBytes;
  return size;
}

std::uint32_t BigEndian(unsigned char const* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

std::uint32_t Synchsafe(unsigned char const* bytes) {
  return static_cast<std::uint32_t>(bytes[0] & 0x7f) << 21 |
         static_cast<std::uint32_t>(bytes[1] & 0x7f) << 14 |
         static_cast<std::uint32_t>(bytes[2] & 0x7f) << 7 | (bytes[3] & 0x7f);
}

// A tag's body read front to back through a small buffer, with the 0x00
// that unsynchronisation puts after each 0xff taken out when asked.
class TagBodyReader {
 public:
  TagBodyReader(int fd, std::uint64_t offset, std::uint64_t size, bool unsynchronised)
      : fd_(fd), next_(offset), end_(offset + size), unsynchronised_(unsynchronised) {}

  // The next `size` bytes of the body into `out` (null: skipped); false at
  // its end or on a read error.
  bool Take(unsigned char* out, std::uint64_t size) {
    if (!out && !unsynchronised_) {  // a plain skip reads nothing: covers are MBs
      std::uint64_t const buffered = buffer_.size() - at_;
      if (size <= buffered) {
        at_ += static_cast<std::size_t>(size);
        return true;
      }
      at_ = buffer_.size();
      if (size - buffered > end_ - next_) return false;
      next_ += size - buffered;
      return true;
    }
    for (; size > 0; --size) {
      if (at_ == buffer_.size() && !Fill()) return false;
      unsigned char const byte = buffer_[at_++];
      if (out) *out++ = byte;
      if (unsynchronised_ && byte == 0xff && (at_ < buffer_.size() || Fill()) &&
          buffer_[at_] == 0x00) {
        ++at_;
      }
    }
    return true;
  }

 private:
  bool Fill() {
    if (next_ >= end_) return false;
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(end_ - next_, 65536)));
    if (!ReadAt(fd_, next_, buffer_.data(), buffer_.size())) return false;
    next_ += buffer_.size();
    at_ = 0;
    return true;
  }

  int const fd_;
  std::uint64_t next_;
  std::uint64_t const end_;
  bool const unsynchronised_;
  std::vector<unsigned char> buffer_;
  std::size_t at_ = 0;
};

// True unless a compressed frame of the tag whose header is `header` and
// whose body starts at `offset` declares more inflated bytes than the limit.
// Versions 2.3 and 2.4 compress frames; a walk that runs out of body, as in
// a damaged tag, ends with what it found.
bool InflatedFramesFit(int fd, unsigned char const* header, std::uint64_t offset) {
  int const version = header[3];
  if (version != 3 && version != 4) return true;
  unsigned char const tag_flags = header[5];
  TagBodyReader body(fd, offset, Synchsafe(header + 6), version == 3 && (tag_flags & 0x80));
  unsigned char field[10];
  if (tag_flags & 0x40) {  // an extended header, skipped
    if (!body.Take(field, 4)) return true;
    std::uint64_t const size = version == 3 ? BigEndian(field) : Synchsafe(field);
    if (version == 4 && size < 4) return true;
    if (!body.Take(nullptr, version == 3 ? size : size - 4)) return true;
  }
  while (body.Take(field, sizeof field) && field[0] != 0) {  // to the padding
    std::uint32_t const size = version == 3 ? BigEndian(field + 4) : Synchsafe(field + 4);
    unsigned char const flags = field[9];
    std::uint32_t extra = 0;  // the bytes before the declared length
    bool compressed = false;
    if (version == 3) {
      compressed = flags & 0x80;
    } else {
      compressed = (flags & 0x08) && (flags & 0x01);
      extra = ((flags & 0x40) ? 1 : 0) + ((flags & 0x04) ? 1 : 0);
    }
    if (compressed) {
      unsigned char length[4];
      if (size < extra + 4 || !body.Take(nullptr, extra) || !body.Take(length, 4)) return true;
      if ((version == 3 ? BigEndian(length) : Synchsafe(length)) > kQLMaxInflatedId3FrameBytes) {
        return false;
      }
      if (!body.Take(nullptr, size - extra - 4)) return true;
    } else if (!body.Take(nullptr, size)) {
      return true;
    }
  }
  return true;
}

// True when the header at `offset` is not a tag header or claims no more
// than the file holds and inflates no frame past the limit; false when it
// overruns the file or the limit, or cannot be read.
bool HeaderFits(int fd, std::uint64_t offset, std::uint64_t file_size) {
  if (file_size - offset < kTagHeaderBytes) return true;
  unsigned char header[kTagHeaderBytes];
  if (!ReadAt(fd, offset, header, sizeof header)) return false;
  std::uint64_t const claimed = ClaimedTagSize(header, TagEnd::kHeader);
  if (claimed > file_size - offset) return false;
  return claimed == 0 || InflatedFramesFit(fd, header, offset + kTagHeaderBytes);
}

// Checks the footer ending at `end` and the header it points back to.
bool FooterFits(int fd, std::uint64_t end, std::uint64_t file_size) {
  if (end < kTagHeaderBytes) return true;
  unsigned char footer[kTagHeaderBytes];
  if (!ReadAt(fd, end - kTagHeaderBytes, footer, sizeof footer)) return false;
  std::uint64_t const claimed = ClaimedTagSize(footer, TagEnd::kFooter);
  if (claimed == 0) return true;
  if (claimed > end) return false;
  return HeaderFits(fd, end - claimed, file_size);
}

}  // namespace

bool Id3TagsFitFile(std::string const& path) {
  QLRegularFile file(path);
  return file.is_open() && Id3TagsFitFile(file.fd());
}

bool Id3TagsFitFile(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  std::uint64_t const file_size = static_cast<std::uint64_t>(info.st_size);

  if (!HeaderFits(fd, 0, file_size)) return false;
  if (!FooterFits(fd, file_size, file_size)) return false;
  if (file_size >= kId3v1Bytes) {
    unsigned char id3v1[3];
    if (!ReadAt(fd, file_size - kId3v1Bytes, id3v1, sizeof id3v1)) return false;
    if (std::memcmp(id3v1, "TAG", 3) == 0 && !FooterFits(fd, file_size - kId3v1Bytes, file_size)) {
      return false;
    }
  }
  return true;
}
