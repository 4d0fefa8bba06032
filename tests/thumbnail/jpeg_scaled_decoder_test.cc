// Shrink-on-load JPEG decoding: the reduction chosen, the geometry mapped
// onto the reduced picture, the same thumbnail size and orientation as a
// full decode with a picture close to it, and libjpeg errors that come back
// as failed decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>

#include "test_support.h"
#include "thumbnail/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_thumbnail_geometry.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

using qltest::Bytes;
using qltest::Format;

// A photo-like picture: smooth colour waves of 300 to 500 pixels with a
// little noise, different along x and y so that a wrong turn or mirror shows.
// Steepest slope: 100 * 2 * pi / 300, about 2.1 levels per pixel.
ScopedGdImage PhotoLike(int width, int height) {
  ScopedGdImage image(gdImageCreateTrueColor(width, height));
  double const pi = 3.14159265358979;
  std::uint32_t seed = 7;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int const noise = static_cast<int>(seed >> 29) - 4;  // -4..3
      int const r = 128 + static_cast<int>(100 * std::sin(2 * pi * x / 400)) + noise;
      int const g = 128 + static_cast<int>(100 * std::sin(2 * pi * y / 300)) + noise;
      int const b = 128 + static_cast<int>(60 * std::cos(2 * pi * (x + 2 * y) / 500)) + noise;
      image->tpixels[y][x] = gdTrueColor(r, g, b);
    }
  }
  return image;
}

// Mean absolute difference per channel of two pictures of one size.
double MeanAbsoluteDifference(gdImagePtr a, gdImagePtr b) {
  double sum = 0;
  for (int y = 0; y < gdImageSY(a); ++y) {
    for (int x = 0; x < gdImageSX(a); ++x) {
      qltest::Rgb const p = qltest::ColorAt(a, x, y);
      qltest::Rgb const q = qltest::ColorAt(b, x, y);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
    }
  }
  return sum / (3.0 * gdImageSX(a) * gdImageSY(a));
}

// A JPEG written with libjpeg itself, for colour spaces libgd cannot write.
Bytes LibjpegEncode(int width, int height, int components, J_COLOR_SPACE space,
                    unsigned char value) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width * components), value);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

TEST(JpegScaleChoiceTest, LargestReductionThatKeepsEnoughPixels) {
  // The usual case: a 160 x 120 thumbnail of a 12-megapixel photo.
  EXPECT_EQ(8, ChooseJpegScaleDenominator(ComputeThumbnailGeometry(4000, 3000, 160, 120, false)));
  // Full screen 1920 x 1080 of the same photo is 1920 x 1440: half size.
  EXPECT_EQ(2, ChooseJpegScaleDenominator(ComputeThumbnailGeometry(4000, 3000, 1920, 1080, true)));
  // Enlarging: no reduction.
  EXPECT_EQ(1, ChooseJpegScaleDenominator(ComputeThumbnailGeometry(100, 50, 800, 600, true)));

  // Everywhere: the chosen reduction leaves the sampled rectangle at least
  // the canvas in both directions, and the next larger one would not.
  for (int W : {100, 641, 1000, 1999, 4000, 6000}) {
    for (int H : {100, 480, 999, 3000}) {
      for (unsigned w : {16u, 100u, 160u, 333u, 1024u}) {
        for (unsigned h : {16u, 90u, 120u, 768u}) {
          for (bool full : {false, true}) {
            QLThumbnailGeometry const g = ComputeThumbnailGeometry(W, H, w, h, full);
            int const d = ChooseJpegScaleDenominator(g);
            ASSERT_TRUE(d == 1 || d == 2 || d == 4 || d == 8);
            if (g.canvas_width <= 0 || g.canvas_height <= 0) {
              EXPECT_EQ(1, d) << "no canvas, nothing to save";
              continue;
            }
            if (d > 1) {
              EXPECT_GE(g.source_width / d, g.canvas_width) << W << "x" << H << " " << w;
              EXPECT_GE(g.source_height / d, g.canvas_height) << W << "x" << H << " " << h;
            }
            if (d < 8) {
              bool const larger_fits = g.source_width >= 2 * d * g.canvas_width &&
                                       g.source_height >= 2 * d * g.canvas_height;
              EXPECT_FALSE(larger_fits) << W << "x" << H << " to " << w << "x" << h;
            }
          }
        }
      }
    }
  }
}

// Mapped edges: the picture's own edges land on the reduced picture's edges,
// a rectangle reaching outside stays outside by the reduced amount, and with
// no reduction nothing changes.
TEST(JpegScaleChoiceTest, SourceRectangleMapsOntoTheReducedPicture) {
  QLThumbnailGeometry const cut = ComputeThumbnailGeometry(1000, 700, 150, 100, false);
  ASSERT_EQ(-25, cut.source_x);  // reaches 25 pixels past each side
  ASSERT_EQ(1050, cut.source_width);
  int const rw = (1000 + 7) / 8, rh = (700 + 7) / 8;
  QLThumbnailGeometry const mapped = MapToReducedPicture(cut, 1000, 700, rw, rh);
  EXPECT_EQ(static_cast<int>(std::floor(-25.0 * rw / 1000)), mapped.source_x);
  EXPECT_EQ(static_cast<int>(std::floor(1025.0 * rw / 1000)),
            mapped.source_x + mapped.source_width);
  EXPECT_EQ(0, mapped.source_y);
  EXPECT_EQ(rh, mapped.source_height);
  EXPECT_EQ(cut.canvas_width, mapped.canvas_width);

  QLThumbnailGeometry const same = MapToReducedPicture(cut, 1000, 700, 1000, 700);
  EXPECT_EQ(cut.source_x, same.source_x);
  EXPECT_EQ(cut.source_width, same.source_width);
  EXPECT_EQ(cut.source_height, same.source_height);
}

class JpegScaledDecoderTest : public qltest::ProviderTest {
 protected:
  void SetUp() override { qltest::WriteDefaultPictures(folder_.path()); }

  // The thumbnail of `path` with shrink-on-load off or on.
  ScopedGdImage Thumbnail(std::string const& path, unsigned w, unsigned h, bool full_screen,
                          bool shrink) {
    QLThumbnailOptions options;
    options.jpeg_shrink_on_load = shrink;
    provider_.SetOptions(options);
    data_.path = path;
    data_.width = w;
    data_.height = h;
    data_.full_screen = full_screen;
    data_.save_to_cache = false;
    if (!provider_.HandleImgJpg(data_)) return ScopedGdImage();
    return qltest::DecodeThumbnail(data_);
  }
};

// Same size and turn as a full decode, and close to it: the reduced picture
// is sampled up to d pixels away from where the full one is (d <= 8), which
// at the texture's slope of about 2 levels per pixel moves a channel by 16
// at worst and by about half that on average; the 8 levels of noise that DCT
// scaling averages away add about 2 more. A mean under 10 allows for that,
// while a wrong rectangle, mirror or turn differs by 40 and more.
TEST_F(JpegScaledDecoderTest, SameSizeAndOrientationAndClosePicture) {
  struct Photo {
    int width, height;
  } const photos[] = {{1600, 1200}, {1200, 1600}, {1601, 901}};
  struct Request {
    unsigned w, h;
    bool full_screen;
  } const requests[] = {{160, 120, false}, {100, 100, false}, {150, 100, false},
                        {400, 300, true},  {90, 160, false},  {1024, 768, true}};
  for (Photo const& photo : photos) {
    ScopedGdImage picture = PhotoLike(photo.width, photo.height);
    Bytes const jpeg = qltest::Encode(picture.get(), Format::kJpeg);
    for (int orientation : {1, 3, 6, 8}) {
      std::string const path = folder_.File("photo.jpg");
      qltest::WriteFile(
          path,
          qltest::InsertSegment(
              jpeg, qltest::ExifSegment(
                        qltest::ByteOrder::kIntel,
                        {qltest::OrientationEntry(static_cast<std::uint16_t>(orientation))})));
      for (Request const& r : requests) {
        SCOPED_TRACE(testing::Message()
                     << photo.width << "x" << photo.height << " orientation " << orientation
                     << " to " << r.w << "x" << r.h << (r.full_screen ? " full screen" : ""));
        ScopedGdImage full = Thumbnail(path, r.w, r.h, r.full_screen, false);
        ScopedGdImage fast = Thumbnail(path, r.w, r.h, r.full_screen, true);
        ASSERT_TRUE(full);
        ASSERT_TRUE(fast);
        ASSERT_EQ(gdImageSX(full.get()), gdImageSX(fast.get()));
        ASSERT_EQ(gdImageSY(full.get()), gdImageSY(fast.get()));
        EXPECT_LT(MeanAbsoluteDifference(full.get(), fast.get()), 10.0);
      }
    }
  }
}

TEST_F(JpegScaledDecoderTest, DecodesAtTheChosenReductionWithLibjpegSizes) {
  ScopedGdImage picture = PhotoLike(1601, 1201);
  Bytes const jpeg = qltest::Encode(picture.get(), Format::kJpeg);
  struct {
    int w, h, denominator;
  } const cases[] = {{160, 120, 8}, {320, 240, 4}, {640, 480, 2}, {1000, 750, 1}};
  for (auto const& c : cases) {
    QLDecodedPicture decoded;
    ASSERT_EQ(QLJpegDecodeStatus::kDecoded,
              DecodeJpegScaled(jpeg.data(), jpeg.size(), c.w, c.h, false, &decoded));
    EXPECT_EQ(c.denominator, decoded.denominator);
    EXPECT_EQ(1601, decoded.original_width);
    EXPECT_EQ(1201, decoded.original_height);
    // libjpeg rounds the reduced size up.
    EXPECT_EQ((1601 + c.denominator - 1) / c.denominator, gdImageSX(decoded.picture.get()));
    EXPECT_EQ((1201 + c.denominator - 1) / c.denominator, gdImageSY(decoded.picture.get()));
  }
}

// Grey JPEGs come out as RGB; CMYK ones are left to libgd, which converts them.
TEST_F(JpegScaledDecoderTest, GreyIsDecodedAndCmykIsLeftToLibgd) {
  Bytes const grey = LibjpegEncode(800, 600, 1, JCS_GRAYSCALE, 90);
  QLDecodedPicture decoded;
  ASSERT_EQ(QLJpegDecodeStatus::kDecoded,
            DecodeJpegScaled(grey.data(), grey.size(), 100, 75, false, &decoded));
  EXPECT_TRUE(
      qltest::Near(qltest::ColorAt(decoded.picture.get(), 10, 10), qltest::Rgb{90, 90, 90}, 2));

  Bytes const cmyk = LibjpegEncode(800, 600, 4, JCS_CMYK, 200);
  EXPECT_EQ(QLJpegDecodeStatus::kUnsupported,
            DecodeJpegScaled(cmyk.data(), cmyk.size(), 100, 75, false, &decoded));
  std::string const path = folder_.File("cmyk.jpg");
  qltest::WriteFile(path, cmyk);
  ScopedGdImage full = Thumbnail(path, 100, 75, false, false);
  ScopedGdImage fast = Thumbnail(path, 100, 75, false, true);
  ASSERT_TRUE(full);
  ASSERT_TRUE(fast);
  EXPECT_EQ(qltest::ColorAt(full.get(), 50, 37), qltest::ColorAt(fast.get(), 50, 37));
  EXPECT_FALSE(qltest::Near(qltest::ColorAt(fast.get(), 50, 37), qltest::kImageColor, 10));
}

// Broken data makes libjpeg give up through its error handler; that comes
// back as a failed decode and the handler's usual fallback, and the process
// goes on. A JPEG cut inside its scan still decodes, as with libgd.
TEST_F(JpegScaledDecoderTest, CorruptJpegFailsBackToTheDefaultPicture) {
  ScopedGdImage picture = PhotoLike(640, 480);
  Bytes const jpeg = qltest::Encode(picture.get(), Format::kJpeg);
  Bytes no_tables = jpeg;  // every quantisation table marker turned into a comment
  for (std::size_t i = 2; i + 1 < no_tables.size(); ++i) {
    if (no_tables[i] == 0xFF && no_tables[i + 1] == 0xDB) no_tables[i + 1] = 0xFE;
  }
  Bytes const header_cut(jpeg.begin(), jpeg.begin() + 200);
  Bytes const scan_cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));

  std::string const path = folder_.File("broken.jpg");
  for (Bytes const* broken : std::vector<Bytes const*>{&no_tables, &header_cut}) {
    QLDecodedPicture decoded;
    EXPECT_EQ(QLJpegDecodeStatus::kFailed,
              DecodeJpegScaled(broken->data(), broken->size(), 80, 60, false, &decoded));
    EXPECT_FALSE(decoded);
    qltest::WriteFile(path, *broken);
    qltest::LogCapture log;
    ScopedGdImage thumb = Thumbnail(path, 80, 60, false, true);
    ASSERT_TRUE(thumb);
    EXPECT_TRUE(qltest::Near(qltest::ColorAt(thumb.get(), 40, 30), qltest::kImageColor, 10));
    EXPECT_TRUE(log.Contains("Invalid JPEG format for \"" + path + "\""));
    EXPECT_TRUE(log.Contains("WARN: "));
  }

  qltest::WriteFile(path, scan_cut);
  ScopedGdImage full = Thumbnail(path, 80, 60, false, false);
  ScopedGdImage fast = Thumbnail(path, 80, 60, false, true);
  ASSERT_TRUE(full);
  ASSERT_TRUE(fast);
  EXPECT_TRUE(data_.save_to_cache);
  // The top rows, decoded before the cut, match.
  EXPECT_TRUE(
      qltest::Near(qltest::ColorAt(full.get(), 40, 2), qltest::ColorAt(fast.get(), 40, 2), 24));
}

}  // namespace
