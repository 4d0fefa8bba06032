// The one maker of sample files for tests, fuzz targets and benchmarks:
// pictures drawn and encoded by libgd (owned by the returned Picture), EXIF
// (APP1) blocks, ID3v2 tags and DNG files written byte by byte, videos made
// by ffmpeg, the default pictures, and request bodies for the command
// handler. No function keeps state or uses a test framework, so any thread
// may call them (on distinct files); a picture libgd cannot encode comes back
// as empty bytes.
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
// Mean |thumbnail - shown| over pixels and channels, `shown` sampled at the
// thumbnail's pixels (in grey when `grey`): lossy coding stays under 10.
double MeanDifference(gdImagePtr thumbnail, gdImagePtr shown, bool grey = false);

typedef std::unique_ptr<gdImageStruct, gdImgDestroyDeleter> Picture;
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

// EXIF: an APP1 segment holding a TIFF block with IFD 0 and, when `preview`
// (JPEG bytes, under 64 KiB) is given, an IFD 1 holding it as the preview
// (JPEGInterchangeFormat and its length).
enum class ByteOrder { kMotorola, kIntel };
struct IfdEntry {
  std::uint16_t tag;
  std::uint16_t type;  // 3 = SHORT
  std::uint32_t count;
  std::uint32_t value;  // stored left-justified in the 4-byte value field
};
IfdEntry OrientationEntry(std::uint16_t value);
Bytes ExifSegment(ByteOrder order, std::vector<IfdEntry> const& ifd0, Bytes const& preview = {});
// `jpeg` with `segment` inserted right after its start-of-image marker.
Bytes InsertSegment(Bytes const& jpeg, Bytes const& segment);
// A width x height JPEG of `photo_color` carrying a preview_width x
// preview_height JPEG preview of `preview_color`.
Bytes JpegWithPreview(int width, int height, Rgb photo_color, int preview_width, int preview_height,
                      Rgb preview_color, std::uint16_t orientation = 1);

// A minimal DNG (no Debian tool writes one): IFD 0 holds `preview`, a JPEG
// of preview_width x preview_height pixels, and the Orientation tag; a
// SubIFD holds a small 8-bit uncompressed CFA image, all LibRaw needs to
// take the file for a camera RAW.
Bytes DngWithPreview(Bytes const& preview, int preview_width, int preview_height, int orientation);

// Whether an ffmpeg program can be run (callers skip when not).
bool HaveFfmpeg();
// A 320x240 MPEG-4 video in `folder` lasting `seconds`: red until 0.2 s,
// green after, with a blue 80x60 block in the top-left corner. A non-zero
// `rotate` (90, 180, 270) is stored as the stream's display rotation, the
// way ffmpeg writes a "rotate" tag. The file's path, or "" when ffmpeg
// failed.
std::string MakeMarkedVideo(std::string const& folder, double seconds, int rotate);

// ID3v2 (major version 3 or 4): an APIC frame, and an MP3 file start made of
// a tag holding `frames` (no tag when empty) and a little MPEG audio.
Bytes ApicFrame(int version, std::string const& mime, Bytes const& picture);
Bytes Mp3File(int version, std::vector<Bytes> const& frames);

// Whole files; WriteBytes replaces `path` and says whether it succeeded,
// ReadBytes gives empty bytes when the file cannot be read.
bool WriteBytes(std::string const& path, Bytes const& bytes);
Bytes ReadBytes(std::string const& path);

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_SAMPLE_FILES_H_
