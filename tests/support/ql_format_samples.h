// Sample files of the formats decoded with `--formats extended` (HEIF, AVIF,
// WebP, TIFF, JPEG XL, PDF), made by Debian's encoders (heif-enc, avifenc,
// cwebp, webpmux, img2webp, ffmpeg, tiffset, exif, cjxl) from a picture drawn
// here, or written here, so that tests and fuzz seeds never need a file from
// elsewhere.
//
// The drawn picture is the one a viewer should show: left half red, top
// right quarter green, bottom right quarter blue, so every turn and mirror
// looks different. The file stores it turned the other way and carries the
// orientation that turns it back. Functions run the tools as child
// processes in the folder of the output; any thread may call them.
#ifndef QUORLIN_TESTS_SUPPORT_QL_FORMAT_SAMPLES_H_
#define QUORLIN_TESTS_SUPPORT_QL_FORMAT_SAMPLES_H_

#include <gd.h>

#include <cstdint>
#include <string>

namespace qltest {

enum class SampleFormat {
  kHeif,          // heif-enc, lossy
  kAvif,          // avifenc, lossless
  kWebpLossy,     // cwebp
  kWebpLossless,  // cwebp -lossless
  kTiffRgb,       // ffmpeg, 8-bit RGB
  kTiffGray,      // ffmpeg, 8-bit grey
  kTiffRgb16,     // ffmpeg, 16 bits per channel
  kTiffPalette,   // ffmpeg, 8-bit palette
  kJxl,           // ffmpeg's JPEG with its EXIF Orientation (exif), recompressed by cjxl
  kWebpAnimated,  // img2webp: the picture, then its negative as a second frame
};

struct SampleSpec {
  SampleFormat format;
  int width;  // of the picture as shown
  int height;
  int orientation;  // 1..8, EXIF numbering. HEIF: one of 1, 2, 3, 4, 6, 8.
};

// The picture as shown: width x height, the three colour areas above; the
// bottom right quarter in `bottom_right`.
gdImagePtr DrawShownPicture(int width, int height, int bottom_right = gdTrueColor(30, 30, 220));

// A one-page PDF, written here (a PDF is text with a table of byte
// offsets). Its page as shown is width x height points: the left half red,
// the top right quarter green, the bottom right quarter left to the paper
// (DrawShownPicture with white), inside a crop box with black all around
// it. With rotate 90 the page is stored height x width and turned by
// /Rotate.
struct PdfRecipe {
  int width;
  int height;
  int rotate = 0;  // 0 or 90
  enum Damage {
    kNone,
    kLocked,       // an /Encrypt dictionary whose empty user password fails
    kCutInHalf,    // the file's first half
    kEndlessForms  // the page draws a form that draws the next one twice, 28 deep
  } damage = kNone;
};
std::string MakePdf(PdfRecipe const& recipe);

// The first bytes of a JPEG XL codestream declaring width x height pixels,
// and nothing more.
std::string JxlHeaderOnly(std::uint32_t width, std::uint32_t height);

// Writes the sample to `path`. Empty on success, else why not (a tool is
// missing or failed), for a skip or failure message.
std::string MakeFormatSample(SampleSpec const& recipe, std::string const& path);

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_FORMAT_SAMPLES_H_
