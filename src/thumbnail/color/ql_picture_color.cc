#include "thumbnail/color/ql_picture_color.h"

#include "log/ql_log.h"
#include "thumbnail/color/ql_color_transform_cache.h"
#include "thumbnail/color/ql_embedded_profile.h"
#include "thumbnail/color/ql_standard_profiles.h"

namespace {

void WarnUnused(std::string const& path, std::string const& problem) {
  QL_WARN("Colour profile of \"" << path << "\" not used: " << problem
                                 << "; the thumbnail keeps the colours as stored.");
}

}  // namespace

QLPictureColor FindPictureColor(int fd, QLProfileContainer container, std::string const& path) {
  QLPictureColor result;
  QLEmbeddedProfile const found = ReadEmbeddedProfile(fd, container);
  std::string const* icc = &found.icc;
  switch (found.kind) {
    case QLEmbeddedProfile::Kind::kNone:
    case QLEmbeddedProfile::Kind::kSrgb:
      return result;
    case QLEmbeddedProfile::Kind::kBroken:
      WarnUnused(path, found.problem);
      return result;
    case QLEmbeddedProfile::Kind::kAdobeRgb:
      icc = &AdobeRgbProfile();
      break;
    case QLEmbeddedProfile::Kind::kNclx:
      switch (ClassifyNclx(found.primaries, found.transfer)) {
        case QLNclxSpace::kDisplayP3:
          icc = &DisplayP3Profile();
          break;
        case QLNclxSpace::kUnsupported:
          QL_DEBUG("Colours of \"" << path << "\" (nclx primaries " << found.primaries
                                   << ", transfer " << found.transfer << ") left as decoded.");
          return result;
        case QLNclxSpace::kSrgb:
          return result;
      }
      break;
    case QLEmbeddedProfile::Kind::kIcc:
      break;
  }
  // The colour space field of the header: a CMYK profile can only serve a
  // CMYK JPEG, whose decoder then uses it.
  if (container == QLProfileContainer::kJpeg && icc->size() >= 20 &&
      icc->compare(16, 4, "CMYK") == 0) {
    result.cmyk_profile = *icc;
    return result;
  }
  if (found.cmyk_jpeg) {
    WarnUnused(path, "an RGB or grey profile for CMYK samples");
    return result;
  }
  std::string problem;
  result.canvas = ProcessColorTransforms().Get(*icc, QLColorTransform::Input::kRgb, &problem);
  if (!result.canvas) {
    WarnUnused(path, problem);
  } else if (result.canvas->identity()) {
    result.canvas.reset();
  }
  return result;
}
