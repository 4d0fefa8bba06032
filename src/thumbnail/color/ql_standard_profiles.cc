#include "thumbnail/color/ql_standard_profiles.h"

#include <lcms2.h>

#include "base/ql_c_resource.h"

namespace {

using ScopedProfile = QLUniqueCResource<void, cmsCloseProfile>;
using ScopedCurve = QLUniqueCResource<cmsToneCurve, cmsFreeToneCurve>;

// An RGB matrix profile from chromaticities and one curve for all three
// channels, as bytes; empty if lcms2 fails (then the caller's transform
// build refuses it with a reason).
std::string MakeProfile(cmsCIExyY const& white, cmsCIExyYTRIPLE const& primaries,
                        cmsToneCurve* curve) {
  std::string bytes;
  if (!curve) return bytes;
  cmsToneCurve* curves[3] = {curve, curve, curve};
  ScopedProfile profile(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsUInt32Number size = 0;
  if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return bytes;
  bytes.resize(size);
  if (!cmsSaveProfileToMem(profile.get(), &bytes[0], &size)) bytes.clear();
  return bytes;
}

cmsCIExyY const kD65 = {0.3127, 0.3290, 1.0};

}  // namespace

std::string const& AdobeRgbProfile() {
  static std::string const bytes = [] {
    ScopedCurve gamma(cmsBuildGamma(nullptr, 563.0 / 256.0));
    return MakeProfile(kD65, {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}},
                       gamma.get());
  }();
  return bytes;
}

std::string const& DisplayP3Profile() {
  static std::string const bytes = [] {
    // IEC 61966-2-1: the linear toe, then the 2.4 power.
    double const srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    ScopedCurve curve(cmsBuildParametricToneCurve(nullptr, 4, srgb));
    return MakeProfile(kD65, {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}},
                       curve.get());
  }();
  return bytes;
}

QLNclxSpace ClassifyNclx(std::uint16_t primaries, std::uint16_t transfer) {
  if (transfer != 13) return QLNclxSpace::kUnsupported;
  if (primaries == 1) return QLNclxSpace::kSrgb;
  if (primaries == 12) return QLNclxSpace::kDisplayP3;
  return QLNclxSpace::kUnsupported;
}
