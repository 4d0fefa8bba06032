// ICC profiles of colour spaces a file names instead of embedding a
// profile: Adobe RGB (1998), which a JPEG's EXIF can declare, and the
// spaces of the HEIF/AVIF 'nclx' code points this daemon converts. Made
// with lcms2 from the spaces' published primaries, white point and tone
// curve, serialised once, and then handed to the transform cache like an
// embedded profile (same key, same bound).
//
// Thread-safe: each profile is made on first use under the static
// initialisation guard and never changes afterwards.
#ifndef QUORLIN_THUMBNAIL_COLOR_QL_STANDARD_PROFILES_H_
#define QUORLIN_THUMBNAIL_COLOR_QL_STANDARD_PROFILES_H_

#include <cstdint>
#include <string>

// Adobe RGB (1998): D65, gamma 563/256.
std::string const& AdobeRgbProfile();

enum class QLNclxSpace {
  kSrgb,         // BT.709 primaries (1) with the sRGB transfer (13): nothing to do
  kDisplayP3,    // P3-D65 primaries (12) with the sRGB transfer
  kUnsupported,  // anything else, HDR transfers (PQ 16, HLG 18) included: left as decoded
};
QLNclxSpace ClassifyNclx(std::uint16_t primaries, std::uint16_t transfer);
// P3 primaries, D65 white, the sRGB tone curve.
std::string const& DisplayP3Profile();

#endif  // QUORLIN_THUMBNAIL_COLOR_QL_STANDARD_PROFILES_H_
