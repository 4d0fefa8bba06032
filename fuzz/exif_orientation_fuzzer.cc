// Fuzz target for ReadExifOrientation. Byte 0 chooses how the rest becomes a
// file: even, the body of an APP1 segment (normally "Exif\0\0" and a TIFF
// block) between a start-of-image marker and a comment and end marker; odd,
// the whole file. Checks: the answer is a signed 16-bit value, and reading the
// same file again gives the same answer (a read of memory libexif never wrote
// would show up as a difference).
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "thumbnail/decode/ql_exif_orientation.h"

using qlfuzz::FuzzCheck;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  qltest::Bytes file(data + 1, data + size);
  if (data[0] % 2 == 0) {
    file.resize(std::min<size_t>(file.size(), 65533));  // what the length field holds
    size_t const length = file.size() + 2;
    file.insert(file.begin(), {0xFF, 0xD8, 0xFF, 0xE1, static_cast<unsigned char>(length >> 8),
                               static_cast<unsigned char>(length & 0xFF)});
    file.insert(file.end(), {0xFF, 0xFE, 0x00, 0x04, 'q', 'l', 0xFF, 0xD9});
  }
  std::string const path = qlfuzz::Scratch().File("input.jpg");
  FuzzCheck(qltest::WriteBytes(path, file), "write the input file");
  int const orientation = ReadExifOrientation(path);
  FuzzCheck(orientation >= -32768 && orientation <= 32767, "a signed 16-bit value");
  FuzzCheck(ReadExifOrientation(path) == orientation, "the same file reads the same");
  return 0;
}
