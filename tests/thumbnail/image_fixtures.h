// Test data for the image handler, orientation and resize tests, all made
// here: pictures drawn with libgd, EXIF blocks and ID3v2 tags written byte
// by byte, files in a scratch folder.
//
// Single-threaded use from a test body. ImageLogCapture swaps the
// process-wide log stream and level and must not overlap another capture.
#ifndef QUORLIN_TESTS_THUMBNAIL_IMAGE_FIXTURES_H_
#define QUORLIN_TESTS_THUMBNAIL_IMAGE_FIXTURES_H_

#include <gd.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_thumbnail_data.h"

namespace qlimg {

typedef std::vector<unsigned char> Bytes;

// A fresh folder under /tmp, removed with its contents on destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(ScratchFolder const&) = delete;
  ScratchFolder& operator=(ScratchFolder const&) = delete;
  std::string const& path() const { return path_; }
  std::string Join(std::string const& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sends every log statement (DEBUG and up) into a string while alive.
class ImageLogCapture {
 public:
  ImageLogCapture();
  ~ImageLogCapture();
  ImageLogCapture(ImageLogCapture const&) = delete;
  ImageLogCapture& operator=(ImageLogCapture const&) = delete;
  std::string text() const { return buffer_->str(); }
  bool Contains(std::string const& needle) const {
    return text().find(needle) != std::string::npos;
  }

 private:
  boost::shared_ptr<std::stringstream> buffer_;
  boost::shared_ptr<std::ostream> saved_stream_;
  int saved_level_;
};

struct Rgb {
  int r, g, b;
};
bool operator==(Rgb a, Rgb b);
std::ostream& operator<<(std::ostream& out, Rgb c);
Rgb ColorAt(gdImagePtr image, int x, int y);
// Every channel within `tolerance` (JPEG is lossy).
bool Near(Rgb a, Rgb b, int tolerance);

// A true-colour picture filled with one colour.
ScopedGdImage SolidPicture(int width, int height, Rgb color);
// Pixel (x, y) has a colour from which x and y can be read back, never
// black, so pixels read from outside a source show up as black.
ScopedGdImage CoordinatePicture(int width, int height);
// Reads back (x, y) from a CoordinatePicture colour; false for anything else.
bool CoordinateOf(Rgb color, int* x, int* y);

// A blue picture with a red block in its top-left and a green block in its
// top-right corner, each a quarter of the shorter side.
extern Rgb const kRed, kGreen, kBlue;
ScopedGdImage MarkedPicture(int width, int height);

// Where the EXIF standard shows stored pixel (x, y) of a W x H picture when
// the picture carries `orientation` (values outside 2..8: where it is).
struct Point {
  int x, y;
};
Point UprightPosition(int orientation, int x, int y, int W, int H);

enum class Format { kJpeg, kPng, kGif, kBmp, kWbmp };
Bytes Encode(gdImagePtr image, Format format);

// EXIF (APP1) segments.
enum class ByteOrder { kMotorola, kIntel };
struct IfdEntry {
  std::uint16_t tag;
  std::uint16_t type;  // 3 = SHORT
  std::uint32_t count;
  std::uint32_t value;  // stored left-justified in the 4-byte value field
};
IfdEntry OrientationEntry(std::uint16_t value);
// An APP1 segment holding a TIFF block with IFD 0 and, when not empty, IFD 1
// followed by a small JPEG preview that IFD 1 points to (libexif drops an
// IFD 1 without a preview).
Bytes ExifSegment(ByteOrder order, std::vector<IfdEntry> const& ifd0,
                  std::vector<IfdEntry> const& ifd1 = std::vector<IfdEntry>());
// `jpeg` with `segment` inserted right after its start-of-image marker.
Bytes InsertSegment(Bytes const& jpeg, Bytes const& segment);

// ID3v2 tags (major version 3 or 4) with APIC frames.
Bytes ApicFrame(int version, std::string const& mime, Bytes const& picture);
// Tag followed by a few bytes of MPEG audio frame, as an MP3 file starts.
Bytes Mp3File(int version, std::vector<Bytes> const& frames);

void WriteFile(std::string const& path, Bytes const& bytes);

// The record's thumbnail decoded as PNG; null when it is not a PNG.
ScopedGdImage DecodeThumbnail(QLThumbnailData const& data);

// The default pictures, each a different solid colour.
extern Rgb const kImageColor, kAudioColor, kVideoColor, kDocColor, kAnyColor;
void WriteDefaultPictures(std::string const& folder);

}  // namespace qlimg

#endif  // QUORLIN_TESTS_THUMBNAIL_IMAGE_FIXTURES_H_
