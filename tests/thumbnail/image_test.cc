// Pictures: the EXIF orientation read and applied pixel by pixel, the resize
// step's geometry, turning and canvas limit, shrink-on-load JPEG decoding,
// the PNG writer's filters, and the picture each kind of file ends up with.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <set>
#include <string>

#include "support/ql_format_samples.h"
#include "thumbnail/ql_avif_decoder.h"
#include "thumbnail/ql_exif_orientation.h"
#include "thumbnail/ql_image_orientation.h"
#include "thumbnail/ql_jpeg_scaled_decoder.h"
#include "thumbnail/ql_png_encoder.h"
#include "thumbnail/ql_regular_file.h"
#include "thumbnail_fixture.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define QL_TEST_FAILING_NEW 1
// Requests of at least this many bytes fail while it is not 0: memory
// running out, for this test binary's operator new. The sanitizers bring
// their own operator new, so there this stays unused.
static std::atomic<std::size_t> g_fail_new_from{0};

void* operator new(std::size_t size) {
  std::size_t const fail_from = g_fail_new_from.load();
  if (fail_from != 0 && size >= fail_from) throw std::bad_alloc();
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  throw std::bad_alloc();
}
// Out of line: inlined into a delete-expression, the free() would look
// mismatched to the compiler.
__attribute__((noinline)) void operator delete(void* memory) noexcept { std::free(memory); }
__attribute__((noinline)) void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
#endif

namespace {

using qltest::ByteOrder;
using qltest::Bytes;
using qltest::Format;
using qltest::Rgb;

boost::shared_ptr<gdImageStruct> Shared(qltest::Picture picture) {
  return boost::shared_ptr<gdImageStruct>(picture.release(), gdImgDestroyDeleter());
}

TEST(ExifOrientationTest, ReadsEveryValueInBothByteOrders) {
  QLTempDir temp;
  Bytes const jpeg = qltest::Solid(Format::kJpeg, 16, 8, {20, 20, 220});
  for (ByteOrder order : {ByteOrder::kMotorola, ByteOrder::kIntel}) {
    for (std::uint16_t value = 1; value <= 8; ++value) {
      Bytes const exif = qltest::ExifSegment(order, {qltest::OrientationEntry(value)});
      ASSERT_TRUE(qltest::WriteBytes(temp.File("p.jpg"), qltest::InsertSegment(jpeg, exif)));
      EXPECT_EQ(value, ReadExifOrientation(temp.File("p.jpg"))) << value;
    }
  }
}

// 4 x 3 and 120 x 90 have whole-number diagonals, where a floating-point
// rotating copy shifts the picture by a pixel; the others do not.
TEST(OrientImageTest, EveryOrientationMovesEveryPixelWhereExifSays) {
  int const sizes[][2] = {{4, 3}, {120, 90}, {5, 3}, {7, 7}, {1, 1}, {33, 17}, {2, 9}};
  for (auto const& size : sizes) {
    qltest::Picture source = qltest::CoordinatePicture(size[0], size[1]);
    for (int orientation = 2; orientation <= 8; ++orientation) {
      gdImagePtr result = nullptr;
      ASSERT_TRUE(OrientImage(source.get(), &result, orientation));
      qltest::Picture owner(result);
      qltest::ExpectOriented(result, orientation, size[0], size[1]);
    }
    qltest::ExpectOriented(source.get(), 1, size[0], size[1]);  // source untouched
  }
}

// A picture libgd cannot copy (width 0) stands in for memory running out.
TEST(OrientImageTest, PictureThatCannotBeCreatedIsReported) {
  gdImage empty = gdImage();
  empty.sy = 3;
  empty.trueColor = 1;
  for (int orientation = 2; orientation <= 8; ++orientation) {
    QLLogCapture log;
    gdImagePtr result = nullptr;
    EXPECT_FALSE(OrientImage(&empty, &result, orientation));
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ(1, log.CountAt("ERROR:", "] Unable to change the image!Out of memory?"))
        << orientation;
  }
}

// A lossless AVIF 94 pixels wide decodes to the drawn pixels; each of its
// 376-byte rows fills its allocation to the byte, so a write past a row
// would land in the next one.
TEST(AvifDecoderTest, LosslessSampleDecodesToTheDrawnPixels) {
  QLTempDir temp;
  std::string const path = temp.File("a.avif");
  std::string const why = qltest::MakeFormatSample({qltest::SampleFormat::kAvif, 94, 62, 1}, path);
  if (why.find("not installed") != std::string::npos) GTEST_SKIP() << why;
  ASSERT_EQ("", why);
  QLUniqueFile const file = OpenRegularFileStream(path, nullptr);
  qltest::Picture const decoded(DecodeAvifFile(file.get(), 94 * 62));
  ASSERT_TRUE(decoded);
  qltest::Picture const shown(qltest::DrawShownPicture(94, 62));
  int differ = 0;
  for (int y = 0; y < 62; ++y) {
    for (int x = 0; x < 94; ++x) {
      differ += !qltest::Near(qltest::ColorAt(decoded.get(), x, y),
                              qltest::ColorAt(shown.get(), x, y), 2);
    }
  }
  EXPECT_EQ(0, differ);
}

class ImageTest : public qltest::ServiceTest {
 protected:
  bool Resize(qltest::Picture picture, unsigned w, unsigned h, bool full_screen,
              int orientation = 1) {
    data_.width = w;
    data_.height = h;
    data_.full_screen = full_screen;
    return provider_.ResizeImage(Shared(std::move(picture)), data_, orientation);
  }
  qltest::Picture Thumbnail() { return qltest::DecodePng(qltest::ThumbnailBytes(data_)); }
};

// At the picture's own size the canvas is the picture, so the turned PNG is
// checked pixel by pixel; 120 x 90 becomes 90 x 120.
TEST_F(ImageTest, ResizeTurnsTheCanvasOrLeavesItForOtherValues) {
  for (int orientation : {6, 8, 5, 7, 1, 0, 9, -1}) {
    ASSERT_TRUE(Resize(qltest::CoordinatePicture(120, 90), 120, 90, false, orientation));
    qltest::Picture thumb = Thumbnail();
    ASSERT_TRUE(thumb);
    qltest::ExpectOriented(thumb.get(), orientation, 120, 90);
  }
}

// A one-pixel line decoded at 1/8 (200 long, 25 after the reduction): the
// canvas is filled from the reduced line, not from 200 of its pixels. The
// centred crop of an 800 x 400 photo decoded as 267 x 134 starts at 200 *
// 267 / 800 = 66.75, so at reduced pixel 66.
TEST_F(ImageTest, ReducedPictureIsSampledWhereTheOriginalWouldBe) {
  Rgb const colour = {200, 40, 90};
  for (bool const tall : {true, false}) {
    int const w = tall ? 1 : 25, h = tall ? 25 : 1;
    data_.width = 200;  // full screen: a canvas of the original's size
    data_.height = 200;
    data_.full_screen = true;
    ASSERT_TRUE(provider_.ResizeImage(Shared(qltest::SolidPicture(w, h, colour)), data_, 1,
                                      tall ? 1 : 200, tall ? 200 : 1));
    EXPECT_TRUE(qltest::Near(colour, qltest::CentreColour(qltest::ThumbnailBytes(data_)))) << tall;
  }
  data_.full_screen = false;
  data_.width = data_.height = 134;
  ASSERT_TRUE(
      provider_.ResizeImage(Shared(qltest::CoordinatePicture(267, 134)), data_, 1, 800, 400));
  int x = -1, y = -1;
  ASSERT_TRUE(qltest::CoordinateOf(qltest::ColorAt(Thumbnail().get(), 0, 0), &x, &y));
  EXPECT_EQ(66, x);
  EXPECT_EQ(0, y);
}

TEST_F(ImageTest, CanvasOverTheLimitIsRefusedBeforeAllocating) {
  QLThumbnailOptions options;
  options.max_thumbnail_pixels = 300 * 225;
  provider_.SetOptions(options);
  EXPECT_FALSE(Resize(qltest::CoordinatePicture(100, 100), 300, 300, true));
  EXPECT_TRUE(Logged("needs a canvas of up to 90000 pixels, more than the 67500 allowed"));
  options.max_thumbnail_pixels = 300 * 300;
  provider_.SetOptions(options);
  EXPECT_TRUE(Resize(qltest::CoordinatePicture(100, 100), 300, 300, true));
  // Full screen counts the longer side squared, whichever side it is and
  // however thin this picture's canvas would be.
  EXPECT_FALSE(Resize(qltest::CoordinatePicture(400, 4), 100, 400, true));
  EXPECT_TRUE(Logged("needs a canvas of up to 160000 pixels, more than the 90000 allowed"));
  // Without a width there is no canvas at all, not one over the limit.
  EXPECT_FALSE(Resize(qltest::CoordinatePicture(100, 100), 0, 90001, false));
  EXPECT_FALSE(Logged("up to 90001 pixels"));
}

TEST_F(ImageTest, JpegIsTurnedByEachExifOrientation) {
  int const W = 160, H = 120, kBlock = 30;
  Rgb const red = {220, 20, 20}, green = {20, 200, 20};
  qltest::Picture marked = qltest::SolidPicture(W, H, {20, 20, 220});
  gdImageFilledRectangle(marked.get(), 0, 0, kBlock - 1, kBlock - 1, gdTrueColor(220, 20, 20));
  gdImageFilledRectangle(marked.get(), W - kBlock, 0, W - 1, kBlock - 1, gdTrueColor(20, 200, 20));
  Bytes const jpeg = qltest::Encode(marked.get(), Format::kJpeg);
  data_.width = W;
  data_.height = H;
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    ByteOrder const order = orientation % 2 ? ByteOrder::kMotorola : ByteOrder::kIntel;
    Write(
        "photo.jpg",
        qltest::InsertSegment(
            jpeg, qltest::ExifSegment(
                      order, {qltest::OrientationEntry(static_cast<std::uint16_t>(orientation))})));
    ASSERT_TRUE(provider_.HandleImgJpg(data_));
    EXPECT_TRUE(data_.save_to_cache);
    qltest::Picture thumb = Thumbnail();
    ASSERT_TRUE(thumb);
    bool const quarter = orientation >= 5;
    ASSERT_EQ(quarter ? H : W, gdImageSX(thumb.get()));
    for (auto const& mark :
         {std::make_pair(kBlock / 2, red), std::make_pair(W - 1 - kBlock / 2, green)}) {
      int x = mark.first, y = kBlock / 2;
      qltest::Upright(orientation, W, H, &x, &y);
      EXPECT_TRUE(qltest::Near(mark.second, qltest::ColorAt(thumb.get(), x, y), 48))
          << x << "," << y;
    }
  }
}

TEST_F(ImageTest, ShrinkOnLoadDecodesAtTheChosenReductionWithLibjpegSizes) {
  Bytes const jpeg = qltest::Encode(qltest::CoordinatePicture(1601, 1201).get(), Format::kJpeg);
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
  QLDecodedPicture broken;
  Bytes const cut(jpeg.begin(), jpeg.begin() + 600);
  EXPECT_NE(QLJpegDecodeStatus::kDecoded,
            DecodeJpegScaled(cut.data(), cut.size(), 160, 120, false, &broken));
}

TEST_F(ImageTest, EachKindGetsItsOwnDefaultPicture) {
  struct {
    char const* name;
    Rgb colour;
  } const cases[] = {{"scan.raw", qltest::kAudioColor},   {"clip.mod", qltest::kVideoColor},
                     {"frame.yuv", qltest::kVideoColor},  {"picture.TIFF", qltest::kImageColor},
                     {"report.xdoc", qltest::kDocColor},  {"report.docx", qltest::kAnyColor},
                     {"notes.tar.gz", qltest::kAnyColor}, {"README", qltest::kAnyColor},
                     {"trailing.", qltest::kAnyColor},    {"archive.zip", qltest::kAnyColor}};
  for (auto const& c : cases) {
    Write(c.name, Bytes{'x'});
    ASSERT_TRUE(provider_.GetThumbnailFor(data_)) << c.name;
    EXPECT_FALSE(data_.save_to_cache) << c.name;
    EXPECT_TRUE(qltest::Near(c.colour, qltest::CentreColour(qltest::ThumbnailBytes(data_))))
        << c.name;
  }
  EXPECT_TRUE(qltest::ListFolder(cache_).empty()) << "default pictures are never cached";
}

// The own libpng writer (any filter mask) decodes to exactly the canvas's
// pixels and uses only the filters chosen; without a valid mask libgd's
// writer is used. Either way the level counts.
TEST(PngEncoderTest, ChosenFiltersAreTheOnlyOnesUsedAndPixelsSurvive) {
  int const W = 97, H = 61;
  qltest::Picture canvas(gdImageCreateTrueColor(W, H));
  std::uint32_t seed = 99;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      seed = seed * 1103515245u + 12345u;
      int const noise = y > H / 2 ? static_cast<int>(seed >> 28) : 0;
      canvas->tpixels[y][x] =
          gdTrueColor((x * 255 / W + noise) & 0xff, y * 255 / H, ((x + y) * 3 + noise) & 0xff);
    }
  }
  struct {
    int mask;
    std::set<int> allowed;
  } const cases[] = {
      {PNG_FILTER_NONE, {PNG_FILTER_VALUE_NONE}},
      {PNG_FILTER_SUB, {PNG_FILTER_VALUE_SUB}},
      {PNG_FILTER_UP, {PNG_FILTER_VALUE_UP}},
      {PNG_FILTER_AVG, {PNG_FILTER_VALUE_AVG}},
      {PNG_FILTER_PAETH | PNG_FILTER_UP, {PNG_FILTER_VALUE_PAETH, PNG_FILTER_VALUE_UP}},
      {PNG_ALL_FILTERS, {0, 1, 2, 3, 4}},
      {-1, {0, 1, 2, 3, 4}},                    // libgd's writer
      {PNG_FILTER_VALUE_SUB, {0, 1, 2, 3, 4}},  // a filter number, not a mask: libgd's writer
  };
  for (auto const& c : cases) {
    std::int64_t stored = 0;  // the size at level 0
    for (int level : {-1, 0, 9}) {
      SCOPED_TRACE(testing::Message() << "filters " << c.mask << " level " << level);
      std::int64_t size = -1;
      boost::shared_ptr<void> png = EncodeThumbnailPng(canvas.get(), level, c.mask, &size);
      ASSERT_TRUE(png);
      unsigned char const* bytes = static_cast<unsigned char const*>(png.get());
      Bytes const file(bytes, bytes + size);
      qltest::Picture decoded = qltest::DecodePng(file);
      ASSERT_TRUE(decoded);
      int differ = 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          differ += gdImageGetTrueColorPixel(decoded.get(), x, y) != canvas->tpixels[y][x];
      EXPECT_EQ(0, differ);
      // The filter type byte in front of each row of the inflated IDAT data.
      Bytes idat;
      for (std::size_t at = 8; at + 12 <= file.size();) {
        std::size_t const length =
            (file[at] << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
        if (std::string(file.begin() + at + 4, file.begin() + at + 8) == "IDAT")
          idat.insert(idat.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
        at += 12 + length;
      }
      std::size_t const stride = 1 + 3 * W;
      Bytes raw(stride * H + 1);
      uLongf raw_size = raw.size();
      ASSERT_EQ(Z_OK, uncompress(raw.data(), &raw_size, idat.data(), idat.size()));
      ASSERT_EQ(stride * H, raw_size);
      std::set<int> used;
      for (int row = 0; row < H; ++row) used.insert(raw[row * stride]);
      for (int filter : used) EXPECT_EQ(1u, c.allowed.count(filter)) << filter;
      if (c.allowed.size() == 5 && level == 0) {
        EXPECT_GT(used.size(), 1u) << "not met by accident";
      }
      if (level == 0) stored = size;
      if (level == 9) {
        EXPECT_LT(size, stored) << "the level was not applied";
      }
    }
  }
  for (int const side : {1, 2}) {  // a one-pixel line is still a picture
    qltest::Picture line(gdImageCreateTrueColor(side, 3 - side));
    std::int64_t size = 0;
    EXPECT_TRUE(EncodeThumbnailPng(line.get(), -1, PNG_FILTER_SUB, &size)) << side;
  }
}

// Memory running out while the PNG grows fails the encode instead of
// returning a file with bytes missing. The row buffer (600 bytes) is still
// made; the output at level 0 (120 KB) cannot grow past 64 KiB.
TEST(PngEncoderTest, MemoryRunningOutFailsTheEncode) {
#ifndef QL_TEST_FAILING_NEW
  GTEST_SKIP() << "the sanitizers' operator new cannot be made to fail";
#else
  qltest::Picture const canvas = qltest::CoordinatePicture(200, 200);
  std::int64_t size = 0;
  g_fail_new_from = 64 << 10;
  boost::shared_ptr<void> const png = EncodeThumbnailPng(canvas.get(), 0, PNG_FILTER_NONE, &size);
  g_fail_new_from = 0;
  EXPECT_FALSE(png);
#endif
}

}  // namespace
