// Helpers shared by the fuzz targets (header only: every fuzz/*_fuzzer.cc is
// built on its own, by libFuzzer and by the corpus replay).
//
// Everything here is used from the fuzzing thread alone, except that
// FuzzCheck may be called from any thread. A target's scratch folder is a
// QLTempDir made once, in LLVMFuzzerInitialize, and removed with its content
// when the process ends normally; a crashed run leaves it behind.
#ifndef QUORLIN_FUZZ_FUZZ_SUPPORT_H_
#define QUORLIN_FUZZ_FUZZ_SUPPORT_H_

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "log/ql_log.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"

namespace qlfuzz {

using qltest::Bytes;

// A fault the sanitizers cannot see (a wrong result): stop with a message so
// libFuzzer keeps the input as a crash artifact.
inline void FuzzCheck(bool condition, char const* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

// Every log statement is formatted in full (so its message code is fuzzed
// too) and then dropped, keeping the fuzzer quiet and fast.
class DiscardBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
};

inline void DiscardLogs() {
  static DiscardBuffer buffer;
  qlloggeros.reset(new std::ostream(&buffer));
  ql_log_level = 3;
}

// Writes `size` bytes to `path`, replacing it.
inline bool WriteBytes(std::string const& path, void const* data, size_t size) {
  return WriteFileText(path, std::string(static_cast<char const*>(data), size));
}

inline bool WriteBytes(std::string const& path, Bytes const& bytes) {
  return WriteBytes(path, bytes.data(), bytes.size());
}

// The five default pictures, each 32 x 24 in its own colour.
inline bool WriteDefaultPictures(std::string const& folder) {
  struct Picture {
    char const* name;
    int red, green, blue;
  };
  static Picture const kPictures[] = {{"image.jpg", 200, 40, 40},
                                      {"audio.jpg", 40, 200, 40},
                                      {"video.jpg", 40, 40, 200},
                                      {"doc.jpg", 200, 200, 40},
                                      {"any_file.jpg", 120, 120, 120}};
  for (Picture const& picture : kPictures) {
    Bytes const jpeg =
        qltest::Solid(qltest::Format::kJpeg, 32, 24, {picture.red, picture.green, picture.blue});
    if (jpeg.empty() || !WriteBytes(folder + "/" + picture.name, jpeg)) return false;
  }
  return true;
}

// Reads a PNG's width and height from its IHDR chunk; false when `data` does
// not start like a PNG file.
inline bool PngSize(unsigned char const* data, size_t size, std::uint32_t* width,
                    std::uint32_t* height) {
  static unsigned char const kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size < 24) return false;
  for (int i = 0; i < 8; ++i) {
    if (data[i] != kSignature[i]) return false;
  }
  if (data[12] != 'I' || data[13] != 'H' || data[14] != 'D' || data[15] != 'R') return false;
  auto be32 = [data](size_t at) {
    return (static_cast<std::uint32_t>(data[at]) << 24) |
           (static_cast<std::uint32_t>(data[at + 1]) << 16) |
           (static_cast<std::uint32_t>(data[at + 2]) << 8) |
           static_cast<std::uint32_t>(data[at + 3]);
  };
  *width = be32(16);
  *height = be32(20);
  return true;
}

}  // namespace qlfuzz

#endif  // QUORLIN_FUZZ_FUZZ_SUPPORT_H_
