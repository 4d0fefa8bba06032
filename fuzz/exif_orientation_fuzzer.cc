// Fuzz target for the EXIF orientation reader (ReadExifOrientation, which
// hands the file to libexif and reads tag 0x0112 of IFD 0).
//
// Input layout: byte 0 chooses how the rest becomes a file:
//   even  the rest is the body of an APP1 segment (normally "Exif\0\0" and a
//         TIFF block), placed after a start-of-image marker and followed by
//         a few bytes of picture and an end-of-image marker;
//   odd   the rest is the whole file.
// Checks beyond "no crash, no leak, no sanitizer report": the answer is a
// signed 16-bit value, and reading the same file again gives the same answer
// (a read of memory libexif never wrote would show up here as a difference).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "thumbnail/ql_exif_orientation.h"

namespace {

using qlfuzz::Bytes;
using qlfuzz::FuzzCheck;

// An APP1 body longer than this does not fit the segment's length field.
size_t const kMaxSegmentBody = 65533;

QLTempDir* g_sandbox = nullptr;

Bytes AsJpegWithApp1(uint8_t const* body, size_t size) {
  if (size > kMaxSegmentBody) size = kMaxSegmentBody;
  size_t const length = size + 2;
  Bytes file = {0xFF,
                0xD8,
                0xFF,
                0xE1,
                static_cast<unsigned char>(length >> 8),
                static_cast<unsigned char>(length & 0xFF)};
  file.insert(file.end(), body, body + size);
  // A comment segment and the end marker: what follows APP1 in a real file
  // is never read for the orientation.
  Bytes const tail = {0xFF, 0xFE, 0x00, 0x04, 'q', 'l', 0xFF, 0xD9};
  file.insert(file.end(), tail.begin(), tail.end());
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  g_sandbox = new QLTempDir();
  std::atexit([] { delete g_sandbox; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  std::string const path = g_sandbox->File("input.jpg");
  bool written = false;
  if (data[0] % 2 == 0) {
    written = qlfuzz::WriteBytes(path, AsJpegWithApp1(data + 1, size - 1));
  } else {
    written = qlfuzz::WriteBytes(path, data + 1, size - 1);
  }
  FuzzCheck(written, "write the input file");

  int const orientation = ReadExifOrientation(path);
  FuzzCheck(orientation >= -32768 && orientation <= 32767, "a signed 16-bit value");
  FuzzCheck(ReadExifOrientation(path) == orientation, "the same file reads the same");
  return 0;
}
