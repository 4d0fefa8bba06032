#include "thumbnail/color/ql_color_transform.h"

#include <lcms2.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/ql_c_resource.h"
#include "log/ql_log.h"

namespace {

using ScopedProfile = QLUniqueCResource<void, cmsCloseProfile>;

// libgd's true-colour pixel is an int 0xAARRGGBB (7-bit alpha), so in
// memory B, G, R, A on little-endian machines and A, R, G, B on big-endian
// ones. Alpha is an extra channel lcms2 leaves alone.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
cmsUInt32Number const kCanvasFormat = TYPE_ARGB_8;
// Grey profiles read blue, the last byte, as the grey level.
cmsUInt32Number const kCanvasGrayFormat =
    COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(1) | SWAPFIRST_SH(1);
#else
cmsUInt32Number const kCanvasFormat = TYPE_BGRA_8;
cmsUInt32Number const kCanvasGrayFormat =
    COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(1);
#endif

// lcms2's messages of the current thread since the last Build() began.
thread_local std::string lcms_messages;

extern "C" void LogLcmsError(cmsContext, cmsUInt32Number code, char const* text) {
  QL_DEBUG("lcms2 error " << code << ": " << (text ? text : ""));
  if (lcms_messages.size() < 512) {
    if (!lcms_messages.empty()) lcms_messages += "; ";
    lcms_messages += text ? text : "";
  }
}

void InstallLcmsLog() {
  static std::once_flag once;
  std::call_once(once, [] { cmsSetLogErrorHandler(LogLcmsError); });
}

std::string WithLcmsMessages(std::string problem) {
  if (!lcms_messages.empty()) problem += " (lcms2: " + lcms_messages + ")";
  return problem;
}

void DeleteTransform(void* transform) {
  if (transform) cmsDeleteTransform(transform);
}

std::uint32_t Be32(unsigned char const* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// What lcms2 would read without complaint but is still not a profile of
// these bytes: a short header, a size field that disagrees with the data
// (a cut or padded profile), no signature.
bool CheckHeader(std::string const& icc, std::string* problem) {
  auto const* p = reinterpret_cast<unsigned char const*>(icc.data());
  if (icc.size() < 132) {
    *problem = "profile of " + std::to_string(icc.size()) + " bytes, shorter than its header";
  } else if (Be32(p) != icc.size()) {
    *problem = "profile size field says " + std::to_string(Be32(p)) + " bytes, " +
               std::to_string(icc.size()) + " present";
  } else if (std::memcmp(p + 36, "acsp", 4) != 0) {
    *problem = "no profile signature";
  } else {
    return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<QLColorTransform const> QLColorTransform::Build(std::string const& icc, Input input,
                                                                std::string* problem) {
  InstallLcmsLog();
  lcms_messages.clear();
  if (!CheckHeader(icc, problem)) return nullptr;
  ScopedProfile source(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
  if (!source) {
    *problem = WithLcmsMessages("malformed profile");
    return nullptr;
  }
  cmsColorSpaceSignature const space = cmsGetColorSpace(source.get());
  cmsProfileClassSignature const klass = cmsGetDeviceClass(source.get());
  bool const rgb_input = input == Input::kRgb;
  bool const fits =
      rgb_input ? (space == cmsSigRgbData || space == cmsSigGrayData) : space == cmsSigCmykData;
  if (!fits || klass == cmsSigLinkClass || klass == cmsSigAbstractClass ||
      klass == cmsSigNamedColorClass) {
    char name[5] = {static_cast<char>(space >> 24), static_cast<char>(space >> 16),
                    static_cast<char>(space >> 8), static_cast<char>(space), 0};
    *problem = std::string("unsupported profile (colour space '") + name + "' for " +
               (rgb_input ? "RGB" : "CMYK") + " samples)";
    return nullptr;
  }
  ScopedProfile srgb(cmsCreate_sRGBProfile());
  cmsUInt32Number const in_format = !rgb_input
                                        ? (input == Input::kCmyk ? TYPE_CMYK_8 : TYPE_CMYK_8_REV)
                                    : space == cmsSigGrayData ? kCanvasGrayFormat
                                                              : kCanvasFormat;
  Handle transform(srgb ? cmsCreateTransform(source.get(), in_format, srgb.get(), kCanvasFormat,
                                             INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE)
                        : nullptr,
                   DeleteTransform);
  if (!transform) {
    *problem = WithLcmsMessages("profile lcms2 cannot convert from");
    return nullptr;
  }
  std::shared_ptr<QLColorTransform> built(new QLColorTransform(std::move(transform), input));
  built->identity_ = rgb_input && built->MovesNoColour();
  return built;
}

// Every combination of eight levels per channel and the whole grey ramp:
// a real difference from sRGB (another gamut, white or curve) shows on
// several of them.
bool QLColorTransform::MovesNoColour() const {
  std::vector<int> grid;
  for (int r = 0; r < 8; ++r) {
    for (int g = 0; g < 8; ++g) {
      for (int b = 0; b < 8; ++b)
        grid.push_back(gdTrueColor(r * 255 / 7, g * 255 / 7, b * 255 / 7));
    }
  }
  for (int v = 0; v < 256; ++v) grid.push_back(gdTrueColor(v, v, v));
  std::vector<int> converted(grid);
  cmsDoTransform(transform_.get(), grid.data(), converted.data(),
                 static_cast<cmsUInt32Number>(grid.size()));
  for (std::size_t i = 0; i < grid.size(); ++i) {
    if (std::abs(gdTrueColorGetRed(grid[i]) - gdTrueColorGetRed(converted[i])) > 1 ||
        std::abs(gdTrueColorGetGreen(grid[i]) - gdTrueColorGetGreen(converted[i])) > 1 ||
        std::abs(gdTrueColorGetBlue(grid[i]) - gdTrueColorGetBlue(converted[i])) > 1) {
      return false;
    }
  }
  return true;
}

void QLColorTransform::ConvertCanvas(gdImagePtr canvas) const {
  if (!canvas || !gdImageTrueColor(canvas) || input_ != Input::kRgb) return;
  int const width = gdImageSX(canvas);
  // A row is converted into a copy of itself, so alpha stays as it was and
  // no lcms2 path has to cope with input and output in the same place.
  std::vector<int> row(static_cast<std::size_t>(width));
  for (int y = 0; y < gdImageSY(canvas); ++y) {
    int* pixels = canvas->tpixels[y];
    std::memcpy(row.data(), pixels, row.size() * sizeof(int));
    cmsDoTransform(transform_.get(), pixels, row.data(), static_cast<cmsUInt32Number>(width));
    std::memcpy(pixels, row.data(), row.size() * sizeof(int));
  }
}

void QLColorTransform::ConvertCmykRow(unsigned char const* cmyk, int* pixels, int count) const {
  if (input_ == Input::kRgb || count <= 0) return;
  cmsDoTransform(transform_.get(), cmyk, pixels, static_cast<cmsUInt32Number>(count));
}
