// End to end through the real daemon: colour patches known in sRGB, put by
// lcms2 into Adobe RGB and a P3 space and stored with the profile in JPEG,
// PNG, WebP and TIFF (P3 also in HEIC, and as nclx code points in AVIF),
// come back as their sRGB values with --color-management and as stored
// without it. CMYK and grey JPEGs go through their profiles; broken
// profiles leave the picture as stored with one WARN line.
#include <gd.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "process/load_harness.h"
#include "support/ql_icc_bytes.h"
#include "support/ql_sample_files.h"
#include "support/ql_temp_dir.h"

namespace load {
namespace {

// A 4 x 3 grid of 80-pixel patches: the default 160 x 120 thumbnail halves
// it, and each patch centre is far from any edge JPEG could smear.
int const kCols = 4, kRows = 3, kPatch = 80;
std::vector<int> const kSrgb = {0xC82828, 0x28A03C, 0x323CBE, 0xE6C832, 0x787878, 0xFAFAFA,
                                0x141414, 0xB45AC8, 0x3CC8D2, 0xF08C50, 0x643C1E, 0x96BE78};
// CMYK inks of the CMYK patches.
std::vector<unsigned> const kInks = {0x00C8C800, 0xC800C800, 0xC8C80000, 0x0020D000,
                                     0x00000080, 0x00000000, 0x404040F0, 0x50A00000,
                                     0xA0200010, 0x00708000, 0x30609040, 0x50208020};

// What a libgd writer gives, as bytes: `write` stores the size.
std::string Bytes(std::function<void*(int*)> const& write) {
  int size = 0;
  void* data = write(&size);
  std::string bytes(static_cast<char*>(data), data ? static_cast<std::size_t>(size) : 0);
  gdFree(data);
  return bytes;
}

// `v` in `bytes` bytes, big-endian unless `little`.
std::string Int(std::uint32_t v, int bytes, bool little = false) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * (little ? i : bytes - 1 - i)));
  return out;
}
std::string Le32(std::uint32_t v) { return Int(v, 4, true); }
std::string Le16(unsigned v) { return Int(v, 2, true); }

std::string RgbProfile(cmsCIExyY white, cmsCIExyYTRIPLE primaries, cmsToneCurve* curve) {
  cmsToneCurve* curves[3] = {curve, curve, curve};
  std::string const bytes = qltest::IccBytes(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  return bytes;
}

cmsCIExyY const kD65 = {0.3127, 0.3290, 1.0};
std::string AdobeRgb() {
  return RgbProfile(kD65, {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}},
                    cmsBuildGamma(nullptr, 2.2));
}
std::string DisplayP3() {
  double const srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  return RgbProfile(kD65, {{0.68, 0.32, 1}, {0.265, 0.69, 1}, {0.15, 0.06, 1}},
                    cmsBuildParametricToneCurve(nullptr, 4, srgb));
}

// A press-like CMYK profile: ink spread (a power of the inks' coverage)
// that no naive conversion reproduces, as a 9^4 grid to Lab.
int CmykToLab(cmsUInt16Number const in[], cmsUInt16Number out[], void* to_lab) {
  double rgb[3], lab[3];
  double const k = in[3] / 65535.0;
  for (int i = 0; i < 3; ++i) rgb[i] = std::pow((1 - in[i] / 65535.0) * (1 - k), 1.3);
  cmsDoTransform(static_cast<cmsHTRANSFORM>(to_lab), rgb, lab, 1);
  cmsCIELab value = {lab[0], lab[1], lab[2]};
  cmsFloat2LabEncodedV2(out, &value);
  return 1;
}
std::string CmykProfile() {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM to_lab =
      cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 2.1);  // lut16: a bare grid is enough
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsStageSampleCLut16bit(grid, CmykToLab, to_lab, 0);
  cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
  cmsWriteTag(profile, cmsSigAToB0Tag, lut);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(lut);
  cmsDeleteTransform(to_lab);
  cmsCloseProfile(srgb);
  cmsCloseProfile(lab);
  return qltest::IccBytes(profile);
}

// `colours` through `from` to `to` (empty: sRGB), as lcms2 converts them.
std::vector<int> Convert(std::vector<int> const& colours, std::string const& from,
                         std::string const& to) {
  auto open = [](std::string const& icc) {
    return icc.empty()
               ? cmsCreate_sRGBProfile()
               : cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  };
  cmsHPROFILE in = open(from), out = open(to);
  bool const cmyk = cmsGetColorSpace(in) == cmsSigCmykData;
  int const channels = cmyk ? 4 : cmsGetColorSpace(in) == cmsSigGrayData ? 1 : 3;
  cmsHTRANSFORM t = cmsCreateTransform(in,
                                       cmyk            ? TYPE_CMYK_8
                                       : channels == 1 ? TYPE_GRAY_8
                                                       : TYPE_RGB_8,
                                       out, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
  std::vector<int> result;
  for (int c : colours) {  // RGB as 0xRRGGBB (grey: its red), CMYK inks as 0xCCMMYYKK
    unsigned char pixel[4] = {0, 0, 0, 0}, rgb[3];
    for (int i = 0; i < channels; ++i)
      pixel[i] = static_cast<unsigned char>(c >> ((cmyk ? 24 : 16) - 8 * i));
    cmsDoTransform(t, pixel, rgb, 1);
    result.push_back((rgb[0] << 16) | (rgb[1] << 8) | rgb[2]);
  }
  cmsDeleteTransform(t);
  cmsCloseProfile(in);
  cmsCloseProfile(out);
  return result;
}

gdImagePtr Patches(std::vector<int> const& colours) {
  gdImagePtr image = gdImageCreateTrueColor(kCols * kPatch, kRows * kPatch);
  for (int i = 0; i < kCols * kRows; ++i) {
    int const x = i % kCols * kPatch, y = i / kCols * kPatch;
    gdImageFilledRectangle(image, x, y, x + kPatch - 1, y + kPatch - 1, colours[i] & 0xFFFFFF);
  }
  return image;
}

// The JPEG of `image` with `segments` (whole marker segments) after SOI.
std::string Jpeg(gdImagePtr image, std::string const& segments) {
  return Bytes([&](int* size) { return gdImageJpegPtr(image, size, 100); }).insert(2, segments);
}

std::string Segment(int marker, std::string const& body) {
  return std::string{'\xFF', static_cast<char>(marker)} +
         Int(static_cast<std::uint32_t>(body.size() + 2), 2) + body;
}

// The profile in two APP2 segments, numbered 1 and 2 of 2.
std::string IccSegments(std::string const& icc) {
  std::size_t const half = icc.size() / 2;
  return Segment(0xE2, std::string("ICC_PROFILE\0\1\2", 14) + icc.substr(0, half)) +
         Segment(0xE2, std::string("ICC_PROFILE\0\2\2", 14) + icc.substr(half));
}

// EXIF saying Adobe RGB: ColorSpace 0xFFFF and interoperability index R03.
std::string AdobeExif() {
  std::string tiff = std::string("II*\0", 4) + Le32(8);
  auto entry = [](unsigned tag, unsigned type, std::uint32_t count, std::string value) {
    return Le16(tag) + Le16(type) + Le32(count) + value + std::string(4 - value.size(), '\0');
  };
  tiff += Le16(1) + entry(0x8769, 4, 1, Le32(26)) + Le32(0);  // IFD0 at 8
  tiff += Le16(2) + entry(0xA001, 3, 1, Le16(0xFFFF)) + entry(0xA005, 4, 1, Le32(56)) +  // at 26
          Le32(0);
  tiff += Le16(1) + entry(0x0001, 2, 4, std::string("R03\0", 4)) + Le32(0);  // at 56
  return Segment(0xE1, std::string("Exif\0\0", 6) + tiff);
}

std::string Chunk(char const* type, std::string const& data) {
  std::string chunk = Int(static_cast<std::uint32_t>(data.size()), 4) + type + data;
  uLong const crc = crc32(0, reinterpret_cast<Bytef const*>(chunk.data() + 4),
                          static_cast<uInt>(chunk.size() - 4));
  return chunk + Int(static_cast<std::uint32_t>(crc), 4);
}

std::string Png(gdImagePtr image, std::string const& icc, bool cut = false) {
  std::string png = Bytes([&](int* size) { return gdImagePngPtr(image, size); });
  uLongf packed_size = compressBound(icc.size());
  std::string packed(packed_size, '\0');
  compress(reinterpret_cast<Bytef*>(&packed[0]), &packed_size,
           reinterpret_cast<Bytef const*>(icc.data()), icc.size());
  packed.resize(cut ? packed_size / 2 : packed_size);
  return png.insert(33, Chunk("iCCP", std::string("ICC\0\0", 5) + packed));
}

std::string Webp(gdImagePtr image, std::string const& icc) {
  std::string const lossless =
      Bytes([&](int* size) { return gdImageWebpPtrEx(image, size, gdWebpLossless); });
  unsigned const w = gdImageSX(image) - 1, h = gdImageSY(image) - 1;
  std::string vp8x = "VP8X" + Le32(10) + std::string("\x20\0\0\0", 4) + Le32(w).substr(0, 3) +
                     Le32(h).substr(0, 3);
  std::string iccp = "ICCP" + Le32(static_cast<std::uint32_t>(icc.size())) + icc;
  if (icc.size() % 2) iccp += '\0';
  std::string const body = "WEBP" + vp8x + iccp + lossless.substr(12);
  return "RIFF" + Le32(static_cast<std::uint32_t>(body.size())) + body;
}

// An uncompressed RGB TIFF with the profile in tag 34675, last in the file.
std::string Tiff(gdImagePtr image, std::string const& icc) {
  int const w = gdImageSX(image), h = gdImageSY(image);
  std::uint32_t const pixels_at = 8, bits_at = pixels_at + 3 * w * h, ifd_at = bits_at + 6,
                      icc_at = ifd_at + 2 + 10 * 12 + 4;
  std::string tiff = std::string("II*\0", 4) + Le32(ifd_at);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int const c = gdImageGetTrueColorPixel(image, x, y);
      tiff += {static_cast<char>(gdTrueColorGetRed(c)), static_cast<char>(gdTrueColorGetGreen(c)),
               static_cast<char>(gdTrueColorGetBlue(c))};
    }
  }
  tiff += Le16(8) + Le16(8) + Le16(8);
  auto entry = [](unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
    return Le16(tag) + Le16(type) + Le32(count) +
           (type == 3 && count == 1 ? Le16(value) + Le16(0) : Le32(value));
  };
  tiff += Le16(10) + entry(256, 4, 1, w) + entry(257, 4, 1, h) + entry(258, 3, 3, bits_at) +
          entry(259, 3, 1, 1) + entry(262, 3, 1, 2) + entry(273, 4, 1, pixels_at) +
          entry(277, 3, 1, 3) + entry(278, 4, 1, h) + entry(279, 4, 1, 3 * w * h) +
          entry(34675, 7, static_cast<std::uint32_t>(icc.size()), icc_at) + Le32(0);
  return tiff + icc;
}

// `png` through a Debian encoder `tool` writing out.`extension`; empty
// when it fails.
std::string Encode(std::string const& png, char const* tool, std::vector<std::string> arguments,
                   char const* extension) {
  QLTempDir work;
  std::string const out = work.File(std::string("out.") + extension);
  if (!qltest::WriteBytes(work.File("in.png"), qltest::Bytes(png.begin(), png.end()))) return "";
  arguments.insert(arguments.end(), {"-o", out, work.File("in.png")});
  if (RunTool(tool, arguments, work.path(), 60000).status != 0) return "";
  return ReadFileText(out);
}

// A CMYK JPEG (Adobe marker, so inverted samples) of the inks with `icc`;
// given `greys` (0xRRGGBB per patch), a one-channel JPEG of their red.
std::string LibjpegJpeg(std::string const& icc, std::vector<int> const& greys = {}) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = kCols * kPatch;
  cinfo.image_height = kRows * kPatch;
  cinfo.input_components = greys.empty() ? 4 : 1;
  cinfo.in_color_space = greys.empty() ? JCS_CMYK : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  jpeg_write_icc_profile(&cinfo, reinterpret_cast<JOCTET const*>(icc.data()),
                         static_cast<unsigned>(icc.size()));
  std::vector<unsigned char> row(cinfo.image_width * cinfo.input_components);
  for (int y = 0; y < kRows * kPatch; ++y) {
    for (int x = 0; x < kCols * kPatch; ++x) {
      int const patch = y / kPatch * kCols + x / kPatch;
      if (!greys.empty()) {
        row[x] = static_cast<unsigned char>(greys[patch] >> 16);
        continue;
      }
      for (int i = 0; i < 4; ++i)
        row[x * 4 + i] = static_cast<unsigned char>(255 - (kInks[patch] >> (24 - 8 * i)));
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string jpeg(reinterpret_cast<char*>(out), size);
  free(out);
  return jpeg;
}

// The patch centres of a thumbnail as 0xRRGGBB.
std::vector<int> Sample(std::string const& png) {
  std::vector<int> colours;
  gdImagePtr image =
      gdImageCreateFromPngPtr(static_cast<int>(png.size()), const_cast<char*>(png.data()));
  if (!image) return colours;
  int const step = gdImageSX(image) / kCols;
  for (int i = 0; i < kCols * kRows; ++i) {
    colours.push_back(
        gdImageGetTrueColorPixel(image, i % kCols * step + step / 2, i / kCols * step + step / 2) &
        0xFFFFFF);
  }
  gdImageDestroy(image);
  return colours;
}

// The largest channel difference between two lists of colours.
int MaxDifference(std::vector<int> const& a, std::vector<int> const& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift <= 16; shift += 8) {
      worst = std::max(worst, std::abs(((a[i] >> shift) & 0xFF) - ((b[i] >> shift) & 0xFF)));
    }
  }
  return worst;
}

struct Row {
  std::string file;
  std::string bytes;
  std::vector<int> with;     // the patches expected with --color-management
  std::vector<int> without;  // and without
  int tolerance;
  int warnings;  // WARN lines with the option
};

class ColorManagementTest : public LiveDaemonTest {
 protected:
  std::string Ask(std::string const& path, int id) {
    LoadConnection connection;
    std::string reply;
    EXPECT_TRUE(
        connection.Ask(RequestBody(path, 160, 120, id, temp_.File("cache") + std::to_string(id)),
                       &reply, ReplyTimeoutMs()))
        << path;
    return reply;
  }
  QLTempDir temp_;
};

TEST_F(ColorManagementTest, EmbeddedProfilesGoToSrgbOnlyWithTheOption) {
  std::vector<Row> rows;
  std::string const broken = AdobeRgb();
  std::vector<int> const stored_adobe = Convert(kSrgb, "", broken);
  for (auto const& space :
       {std::make_pair("adobe", AdobeRgb()), std::make_pair("p3", DisplayP3())}) {
    std::vector<int> const stored = Convert(kSrgb, "", space.second);
    gdImagePtr image = Patches(stored);
    std::string const name = space.first;
    rows.push_back({name + ".jpg", Jpeg(image, IccSegments(space.second)), kSrgb, stored, 3, 0});
    rows.push_back({name + ".png", Png(image, space.second), kSrgb, stored, 3, 0});
    rows.push_back({name + ".webp", Webp(image, space.second), kSrgb, stored, 3, 0});
    rows.push_back({name + ".tif", Tiff(image, space.second), kSrgb, stored, 3, 0});
    if (name == "p3") {
      // Lossless in RGB: a HEIC with the profile, an AVIF with nclx code
      // points for P3 (primaries 12, sRGB transfer 13) instead.
      rows.push_back({name + ".heic",
                      Encode(Png(image, space.second), "/usr/bin/heif-enc",
                             {"-L", "-p", "chroma=444", "--matrix_coefficients=0"}, "heic"),
                      kSrgb, stored, 3, 0});
      rows.push_back({name + ".avif",
                      Encode(Bytes([&](int* size) { return gdImagePngPtr(image, size); }),
                             "/usr/bin/avifenc", {"-l", "--cicp", "12/13/0"}, "avif"),
                      kSrgb, stored, 3, 0});
    }
    gdImageDestroy(image);
  }
  gdImagePtr adobe = Patches(stored_adobe);
  rows.push_back({"exif-adobe.jpg", Jpeg(adobe, AdobeExif()), kSrgb, stored_adobe, 3, 0});
  std::string wrong_size = broken;
  wrong_size[2] = static_cast<char>(wrong_size[2] + 1);
  std::string random(600, '\0');
  for (char& c : random) c = static_cast<char>(std::rand());
  rows.push_back({"cut.png", Png(adobe, broken, true), stored_adobe, stored_adobe, 3, 1});
  rows.push_back(
      {"size-field.jpg", Jpeg(adobe, IccSegments(wrong_size)), stored_adobe, stored_adobe, 3, 1});
  rows.push_back({"random.webp", Webp(adobe, random), stored_adobe, stored_adobe, 3, 1});
  std::string oversized;  // 70 segments of 60000 bytes: over the 4 MiB taken
  for (int i = 1; i <= 70; ++i) {
    oversized += Segment(0xE2, std::string("ICC_PROFILE\0", 12) + static_cast<char>(i) + '\x46' +
                                   std::string(60000, 'x'));
  }
  rows.push_back({"oversized.jpg", Jpeg(adobe, oversized), stored_adobe, stored_adobe, 3, 1});
  gdImageDestroy(adobe);
  // An sRGB profile changes nothing: same bytes with and without.
  gdImagePtr srgb = Patches(kSrgb);
  std::size_t const srgb_row = rows.size();
  rows.push_back(
      {"srgb.png", Png(srgb, qltest::IccBytes(cmsCreate_sRGBProfile())), kSrgb, kSrgb, 0, 0});
  gdImageDestroy(srgb);
  std::string const cmyk_icc = CmykProfile();
  std::string const cmyk = LibjpegJpeg(cmyk_icc);
  gdImagePtr plain =
      gdImageCreateFromJpegPtr(static_cast<int>(cmyk.size()), const_cast<char*>(cmyk.data()));
  ASSERT_NE(nullptr, plain);
  std::vector<int> const today =
      Sample(Bytes([&](int* size) { return gdImagePngPtr(plain, size); }));
  gdImageDestroy(plain);
  rows.push_back({"cmyk.jpg", cmyk,
                  Convert(std::vector<int>(kInks.begin(), kInks.end()), cmyk_icc, ""), today, 4,
                  0});
  rows.push_back({"rgb-in-cmyk.jpg", LibjpegJpeg(broken), today, today, 4, 1});
  // Grey through a linear grey profile: far lighter in sRGB.
  std::vector<int> grey_stored;
  for (int c : kSrgb) grey_stored.push_back((c >> 16 & 0xFF) * 0x010101);
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  std::string const grey_icc = qltest::IccBytes(cmsCreateGrayProfile(cmsD50_xyY(), linear));
  cmsFreeToneCurve(linear);
  rows.push_back(
      {"grey.jpg", LibjpegJpeg(grey_icc, kSrgb), Convert(kSrgb, grey_icc, ""), grey_stored, 3, 0});
  for (Row const& row : rows) {
    ASSERT_FALSE(row.bytes.empty()) << row.file << ": its encoder failed";
    ASSERT_TRUE(qltest::WriteBytes(temp_.File(row.file),
                                   qltest::Bytes(row.bytes.begin(), row.bytes.end())));
  }

  std::vector<std::string> replies[2];
  for (int with = 0; with < 2; ++with) {
    std::vector<std::string> arguments = {"-l", "1", "--formats", "extended"};
    // Without it, JPEGs take the shrinking decoder, which leaves CMYK ones to
    // libgd as before.
    arguments.push_back(with ? "--color-management" : "--jpeg-shrink-on-load");
    StartDaemon(arguments);
    int id = 1;
    for (Row const& row : rows) {
      replies[with].push_back(Ask(temp_.File(row.file), 100 * with + id++));
      EXPECT_LE(MaxDifference(Sample(replies[with].back()), with ? row.with : row.without),
                row.tolerance)
          << row.file << (with ? " with" : " without") << " the option";
    }
    std::string const log = daemon_->LogText();
    for (Row const& row : rows) {
      int lines = 0;
      for (std::size_t at = log.find("WARN: "); at != std::string::npos;
           at = log.find("WARN: ", at + 1)) {
        std::string const line = log.substr(at, log.find('\n', at) - at);
        lines +=
            line.find("Colour profile of \"" + temp_.File(row.file) + "\"") != std::string::npos;
      }
      EXPECT_EQ(with ? row.warnings : 0, lines) << row.file << "\n" << log;
    }
    StopServing();
  }
  EXPECT_EQ(replies[0][srgb_row], replies[1][srgb_row]) << "sRGB profile";
}

}  // namespace
}  // namespace load
