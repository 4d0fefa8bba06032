// Finding the colour profile a picture file carries, read from a descriptor
// the caller already opened (the file checked is the file read) with pread,
// so the caller's file position is left alone.
//
//   JPEG  the APP2 "ICC_PROFILE" segments before the first scan, joined in
//         their sequence order; without them, EXIF ColorSpace 0xFFFF
//         (uncalibrated) with the interoperability index "R03" means Adobe RGB;
//   PNG   iCCP (zlib-compressed) before IDAT; an sRGB chunk means sRGB;
//   WebP  the ICCP chunk of an extended (VP8X) file;
//   TIFF  tag 34675 of the first directory (the one libgd decodes);
//   HEIF, AVIF  the 'colr' property of the primary item: an ICC profile
//         ('prof' or 'rICC'), or 'nclx' code points.
//
// Every length and count read from the file is checked against the file's
// size and the bounds below before anything is allocated for it; a
// profile that is cut off, split wrongly or larger than kMaxProfileBytes
// is reported as broken with the reason, never read in part. Stateless:
// any thread may call ReadEmbeddedProfile on a descriptor it alone uses.
#ifndef QUORLIN_THUMBNAIL_COLOR_QL_EMBEDDED_PROFILE_H_
#define QUORLIN_THUMBNAIL_COLOR_QL_EMBEDDED_PROFILE_H_

#include <cstdint>
#include <string>

struct QLEmbeddedProfile {
  // The largest profile taken: the big CMYK press profiles in use are under
  // 3 MB; matrix profiles of cameras and screens are a few KB.
  static constexpr std::uint32_t kMaxProfileBytes = 4u << 20;

  enum class Kind {
    kNone,      // nothing said: the picture is shown as stored
    kSrgb,      // declared sRGB without a profile (PNG sRGB chunk)
    kIcc,       // `icc` holds the profile
    kAdobeRgb,  // JPEG EXIF: Adobe RGB (1998), no profile embedded
    kNclx,      // HEIF/AVIF code points in `primaries` and `transfer`
    kBroken,    // a profile is there but unusable; `problem` says why
  };
  Kind kind = Kind::kNone;
  std::string icc;
  std::uint16_t primaries = 0;  // ITU-T H.273 ColourPrimaries
  std::uint16_t transfer = 0;   // ITU-T H.273 TransferCharacteristics
  std::string problem;
  // JPEG: its frame has four components (CMYK or YCCK samples), which only
  // a CMYK profile can describe.
  bool cmyk_jpeg = false;
};

// The layouts profiles are looked for in; HEIF and AVIF share theirs.
enum class QLProfileContainer { kNone, kJpeg, kPng, kWebp, kTiff, kHeif };

QLEmbeddedProfile ReadEmbeddedProfile(int fd, QLProfileContainer container);

#endif  // QUORLIN_THUMBNAIL_COLOR_QL_EMBEDDED_PROFILE_H_
