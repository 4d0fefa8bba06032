// Fuzz target for colour management: finding a file's profile and
// converting through it. Byte 0 chooses how the rest becomes a file: 0 to 4
// wrap it as the profile of a JPEG (two APP2 segments), PNG (iCCP, compressed here), WebP
// (ICCP), TIFF (tag 34675) or HEIF ('colr' 'prof'); 5 to 9 take it as a
// whole file of those five layouts. Checks: a profile found is within the
// bound; a conversion leaves alpha alone and gives the same pixels twice
// (a read of memory never written would show as a difference).
#include <fcntl.h>
#include <gd.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "thumbnail/color/ql_color_transform_cache.h"
#include "thumbnail/color/ql_embedded_profile.h"
#include "thumbnail/color/ql_picture_color.h"

using qlfuzz::FuzzCheck;

namespace {

std::string Be(std::uint32_t v, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
  return out;
}
std::string Le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}
std::string Box(char const* type, std::string const& body) {
  return Be(static_cast<std::uint32_t>(body.size() + 8), 4) + type + body;
}
std::string App2(int sequence, std::string const& part) {
  return "\xFF\xE2" + Be(static_cast<std::uint32_t>(part.size() + 16), 2) +
         std::string("ICC_PROFILE\0", 12) + static_cast<char>(sequence) + '\2' + part;
}

std::string Wrap(int layout, std::string const& icc) {
  std::string const size = Le32(static_cast<std::uint32_t>(icc.size()));
  switch (layout) {
    case 0:
      return "\xFF\xD8" + App2(1, icc.substr(0, icc.size() / 2)) +
             App2(2, icc.substr(icc.size() / 2)) + "\xFF\xD9";
    case 1: {
      uLongf packed_size = compressBound(static_cast<uLong>(icc.size()));
      std::string packed(packed_size, '\0');
      compress(reinterpret_cast<Bytef*>(&packed[0]), &packed_size,
               reinterpret_cast<Bytef const*>(icc.data()), static_cast<uLong>(icc.size()));
      packed.resize(packed_size);
      return "\x89PNG\r\n\x1a\n" + Be(static_cast<std::uint32_t>(packed.size() + 5), 4) + "iCCP" +
             std::string("p\0\0", 3) + packed + "\0\0\0\0";
    }
    case 2:
      return "RIFF" + Le32(static_cast<std::uint32_t>(icc.size() + 12)) + "WEBPICCP" + size + icc;
    case 3:
      return std::string("II*\0\x08\0\0\0\x01\0\x73\x87\x07\0", 14) + size + Le32(26) +
             std::string(4, '\0') + icc;
    default:
      return Box("meta",
                 std::string(4, '\0') + Box("iprp", Box("ipco", Box("colr", "prof" + icc))));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::DiscardLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  std::string const rest(reinterpret_cast<char const*>(data) + 1, size - 1);
  int const layout = data[0] % 10;
  std::string const file = layout < 5 ? Wrap(layout, rest) : rest;
  static QLProfileContainer const kContainers[] = {
      QLProfileContainer::kJpeg, QLProfileContainer::kPng, QLProfileContainer::kWebp,
      QLProfileContainer::kTiff, QLProfileContainer::kHeif};
  QLProfileContainer const container = kContainers[layout % 5];
  std::string const path = qlfuzz::Scratch().File("input");
  FuzzCheck(qltest::WriteBytes(path, qltest::Bytes(file.begin(), file.end())), "write the input");
  int const fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  FuzzCheck(fd >= 0, "open the input");
  QLEmbeddedProfile const found = ReadEmbeddedProfile(fd, container);
  FuzzCheck(found.icc.size() <= QLEmbeddedProfile::kMaxProfileBytes, "a profile within the bound");
  QLPictureColor const color = FindPictureColor(fd, container, path);
  close(fd);
  if (color.canvas) {
    gdImagePtr canvas = gdImageCreateTrueColor(9, 2);
    gdImageAlphaBlending(canvas, 0);
    for (int x = 0; x < 9; ++x) {
      gdImageSetPixel(canvas, x, 0, gdTrueColorAlpha(x * 31, 255 - x * 31, x * 17, x * 15));
      gdImageSetPixel(canvas, x, 1, gdTrueColorAlpha(x * 31, 255 - x * 31, x * 17, x * 15));
    }
    color.canvas->ConvertCanvas(canvas);
    for (int x = 0; x < 9; ++x) {
      FuzzCheck(gdTrueColorGetAlpha(gdImageGetTrueColorPixel(canvas, x, 0)) == x * 15,
                "alpha kept");
      FuzzCheck(gdImageGetTrueColorPixel(canvas, x, 0) == gdImageGetTrueColorPixel(canvas, x, 1),
                "the same pixel converts the same");
    }
    gdImageDestroy(canvas);
  }
  if (!color.cmyk_profile.empty()) {
    std::string problem;
    auto const transform = ProcessColorTransforms().Get(
        color.cmyk_profile, QLColorTransform::Input::kCmykInverted, &problem);
    unsigned char const inks[8] = {0, 64, 128, 255, 255, 128, 64, 0};
    int pixels[2] = {0, 0};
    if (transform) transform->ConvertCmykRow(inks, pixels, 2);
    FuzzCheck(!transform || (pixels[0] >> 24) == 0, "no alpha from CMYK");
  }
  return 0;
}
