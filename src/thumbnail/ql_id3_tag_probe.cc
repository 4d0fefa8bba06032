#include "thumbnail/ql_id3_tag_probe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

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

// True when the header at `offset` is not a tag header or claims no more
// than the file holds; false when it overruns the file or cannot be read.
bool HeaderFits(int fd, std::uint64_t offset, std::uint64_t file_size) {
  if (file_size - offset < kTagHeaderBytes) return true;
  unsigned char header[kTagHeaderBytes];
  if (!ReadAt(fd, offset, header, sizeof header)) return false;
  std::uint64_t const claimed = ClaimedTagSize(header, TagEnd::kHeader);
  return claimed <= file_size - offset;
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
