// Sample files of the formats decoded with `--formats extended` (HEIF, AVIF,
// WebP, TIFF), made by Debian's encoders (heif-enc, avifenc, cwebp,
// webpmux, ffmpeg, tiffset) from a picture drawn here, so that tests and
// fuzz seeds never need a file from elsewhere.
//
// The drawn picture is the one a viewer should show: left half red, top
// right quarter green, bottom right quarter blue, so every turn and mirror
// looks different. The file stores it turned the other way and carries the
// orientation that turns it back. Functions run the tools as child
// processes in the folder of the output; any thread may call them.
#ifndef QUORLIN_TESTS_SUPPORT_QL_FORMAT_SAMPLES_H_
#define QUORLIN_TESTS_SUPPORT_QL_FORMAT_SAMPLES_H_

#include <gd.h>

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
};

struct SampleSpec {
  SampleFormat format;
  int width;  // of the picture as shown
  int height;
  int orientation;  // 1..8, EXIF numbering. HEIF: one of 1, 2, 3, 4, 6, 8.
};

// The picture as shown: width x height, the three colour areas above.
gdImagePtr DrawShownPicture(int width, int height);

// Writes the sample to `path`. Empty on success, else why not (a tool is
// missing or failed), for a skip or failure message.
std::string MakeFormatSample(SampleSpec const& recipe, std::string const& path);

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_FORMAT_SAMPLES_H_
