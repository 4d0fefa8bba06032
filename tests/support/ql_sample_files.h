// The one maker of sample files for tests, fuzz targets and benchmarks:
// pictures drawn and encoded by libgd (owned by the returned Picture), EXIF
// (APP1) blocks and ID3v2 tags written byte by byte, the default pictures,
// and request bodies for the command handler. No function keeps state or
// uses a test framework, so any thread may call them (on distinct files); a
// picture libgd cannot encode comes back as empty bytes.
#ifndef QUORLIN_TESTS_SUPPORT_QL_SAMPLE_FILES_H_
#define QUORLIN_TESTS_SUPPORT_QL_SAMPLE_FILES_H_

#include <gd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "thumbnail/ql_gd_deleters.h"

namespace qltest {

typedef std::vector<unsigned char> Bytes;

struct Rgb {
  int r, g, b;
};
// Every channel within `tolerance` (JPEG is lossy).
bool Near(Rgb a, Rgb b, int tolerance = 24);
Rgb ColorAt(gdImagePtr image, int x, int y);

typedef std::unique_ptr<gdImageStruct, gdImgDestroyDeleter> Picture;
// A true-colour picture of one colour.
Picture SolidPicture(int width, int height, Rgb color);
// Pixel (x, y) has a colour CoordinateOf reads x and y back from; never
// black, so pixels taken from outside a source show up as black.
Picture CoordinatePicture(int width, int height);
bool CoordinateOf(Rgb color, int* x, int* y);

enum class Format { kJpeg, kPng, kGif, kBmp, kWbmp };
Bytes Encode(gdImagePtr image, Format format);
// A width x height picture of one colour, encoded.
Bytes Solid(Format format, int width, int height, Rgb color);
// Width and height from the IHDR chunk; false when `data` does not start
// like a PNG file.
bool PngSize(unsigned char const* data, std::size_t size, std::uint32_t* width,
             std::uint32_t* height);

// The five default pictures ("image.jpg", "audio.jpg", "video.jpg",
// "doc.jpg", "any_file.jpg"), 64 x 48 JPEGs each of its own colour, so a
// thumbnail tells which one it was made from.
extern Rgb const kImageColor, kAudioColor, kVideoColor, kDocColor, kAnyColor;
bool WriteDefaultPictures(std::string const& folder);

// EXIF: an APP1 segment holding a TIFF block with IFD 0.
enum class ByteOrder { kMotorola, kIntel };
struct IfdEntry {
  std::uint16_t tag;
  std::uint16_t type;  // 3 = SHORT
  std::uint32_t count;
  std::uint32_t value;  // stored left-justified in the 4-byte value field
};
IfdEntry OrientationEntry(std::uint16_t value);
Bytes ExifSegment(ByteOrder order, std::vector<IfdEntry> const& ifd0);
// `jpeg` with `segment` inserted right after its start-of-image marker.
Bytes InsertSegment(Bytes const& jpeg, Bytes const& segment);

// ID3v2 (major version 3 or 4): an APIC frame, and an MP3 file start made of
// a tag holding `frames` (no tag when empty) and a little MPEG audio.
Bytes ApicFrame(int version, std::string const& mime, Bytes const& picture);
Bytes Mp3File(int version, std::vector<Bytes> const& frames);

// A thumbnail request body holding the seven keys; `width`, `height`,
// `full_screen` and `id` are raw JSON texts.
std::string RequestBody(std::string const& path, std::string const& width,
                        std::string const& height, std::string const& full_screen,
                        std::string const& id, std::string const& cache,
                        std::string const& defaults);

// Whole files; WriteBytes replaces `path` and says whether it succeeded,
// ReadBytes gives empty bytes when the file cannot be read.
bool WriteBytes(std::string const& path, Bytes const& bytes);
Bytes ReadBytes(std::string const& path);

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_SAMPLE_FILES_H_
