#include "image_fixtures.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <cstdio>
#include <cstdlib>

#include "log/ql_log.h"
#include "thumbnail/ql_gd_deleters.h"

namespace qlimg {

Rgb const kRed = {220, 20, 20};
Rgb const kGreen = {20, 200, 20};
Rgb const kBlue = {20, 20, 220};
Rgb const kImageColor = {230, 120, 20};
Rgb const kAudioColor = {240, 230, 30};
Rgb const kVideoColor = {30, 200, 200};
Rgb const kDocColor = {150, 60, 200};
Rgb const kAnyColor = {120, 120, 120};

ScratchFolder::ScratchFolder() {
  char name[] = "/tmp/ql_image_test_XXXXXX";
  char* made = mkdtemp(name);
  if (!made) ADD_FAILURE() << "mkdtemp failed";
  path_ = made ? made : "/tmp";
}

ScratchFolder::~ScratchFolder() {
  boost::system::error_code ignored;
  if (path_ != "/tmp") boost::filesystem::remove_all(path_, ignored);
}

ImageLogCapture::ImageLogCapture() : buffer_(new std::stringstream) {
  boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
  saved_stream_ = qlloggeros;
  saved_level_ = ql_log_level;
  qlloggeros = buffer_;
  ql_log_level = 3;
}

ImageLogCapture::~ImageLogCapture() {
  boost::unique_lock<boost::recursive_mutex> lock(QLLogStatementMutex());
  qlloggeros = saved_stream_;
  ql_log_level = saved_level_;
}

bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

std::ostream& operator<<(std::ostream& out, Rgb c) {
  return out << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

Rgb ColorAt(gdImagePtr image, int x, int y) {
  int const c = gdImageGetTrueColorPixel(image, x, y);
  return Rgb{gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)};
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

ScopedGdImage SolidPicture(int width, int height, Rgb color) {
  ScopedGdImage image(gdImageCreateTrueColor(width, height));
  gdImageFilledRectangle(image.get(), 0, 0, width - 1, height - 1,
                         gdTrueColor(color.r, color.g, color.b));
  return image;
}

// x + 1 and y + 1 as 12-bit numbers: low bytes in red and blue, high nibbles
// in green. Never black, as both are at least 1.
ScopedGdImage CoordinatePicture(int width, int height) {
  ScopedGdImage image(gdImageCreateTrueColor(width, height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int const cx = x + 1;
      int const cy = y + 1;
      image->tpixels[y][x] = gdTrueColor(cx & 0xFF, (cx >> 8) | ((cy >> 8) << 4), cy & 0xFF);
    }
  }
  return image;
}

bool CoordinateOf(Rgb color, int* x, int* y) {
  int const cx = color.r | ((color.g & 0x0F) << 8);
  int const cy = color.b | ((color.g >> 4) << 8);
  if (cx == 0 || cy == 0) return false;
  *x = cx - 1;
  *y = cy - 1;
  return true;
}

Point UprightPosition(int orientation, int x, int y, int W, int H) {
  switch (orientation) {
    case 2:
      return {W - 1 - x, y};
    case 3:
      return {W - 1 - x, H - 1 - y};
    case 4:
      return {x, H - 1 - y};
    case 5:
      return {y, x};
    case 6:
      return {H - 1 - y, x};
    case 7:
      return {H - 1 - y, W - 1 - x};
    case 8:
      return {y, W - 1 - x};
    default:
      return {x, y};
  }
}

ScopedGdImage MarkedPicture(int width, int height) {
  ScopedGdImage image = SolidPicture(width, height, kBlue);
  int const block = std::min(width, height) / 4;
  gdImageFilledRectangle(image.get(), 0, 0, block - 1, block - 1,
                         gdTrueColor(kRed.r, kRed.g, kRed.b));
  gdImageFilledRectangle(image.get(), width - block, 0, width - 1, block - 1,
                         gdTrueColor(kGreen.r, kGreen.g, kGreen.b));
  return image;
}

Bytes Encode(gdImagePtr image, Format format) {
  int size = 0;
  void* buffer = nullptr;
  switch (format) {
    case Format::kJpeg:
      buffer = gdImageJpegPtr(image, &size, 95);
      break;
    case Format::kPng:
      buffer = gdImagePngPtr(image, &size);
      break;
    case Format::kGif:
      buffer = gdImageGifPtr(image, &size);
      break;
    case Format::kBmp:
      buffer = gdImageBmpPtr(image, &size, 0);
      break;
    case Format::kWbmp:
      buffer = gdImageWBMPPtr(image, &size, gdTrueColor(0, 0, 0));
      break;
  }
  boost::shared_ptr<void> owner(buffer, gdDeleter());
  if (!buffer) ADD_FAILURE() << "libgd could not encode the test picture";
  unsigned char const* bytes = static_cast<unsigned char const*>(buffer);
  return buffer ? Bytes(bytes, bytes + size) : Bytes();
}

namespace {

void Put16(Bytes* out, ByteOrder order, std::uint32_t value) {
  if (order == ByteOrder::kMotorola) {
    out->push_back((value >> 8) & 0xFF);
    out->push_back(value & 0xFF);
  } else {
    out->push_back(value & 0xFF);
    out->push_back((value >> 8) & 0xFF);
  }
}

void Put32(Bytes* out, ByteOrder order, std::uint32_t value) {
  if (order == ByteOrder::kMotorola) {
    Put16(out, order, value >> 16);
    Put16(out, order, value & 0xFFFF);
  } else {
    Put16(out, order, value & 0xFFFF);
    Put16(out, order, value >> 16);
  }
}

void PutIfd(Bytes* out, ByteOrder order, std::vector<IfdEntry> const& entries, std::uint32_t next) {
  Put16(out, order, static_cast<std::uint32_t>(entries.size()));
  for (IfdEntry const& entry : entries) {
    Put16(out, order, entry.tag);
    Put16(out, order, entry.type);
    Put32(out, order, entry.count);
    if (entry.type == 3 && entry.count == 1) {
      Put16(out, order, entry.value);
      Put16(out, order, 0);
    } else {
      Put32(out, order, entry.value);
    }
  }
  Put32(out, order, next);
}

void PutBigEndian32(Bytes* out, std::uint32_t value) { Put32(out, ByteOrder::kMotorola, value); }

void PutSynchsafe32(Bytes* out, std::uint32_t value) {
  for (int shift = 21; shift >= 0; shift -= 7) out->push_back((value >> shift) & 0x7F);
}

void PutText(Bytes* out, std::string const& text) {
  out->insert(out->end(), text.begin(), text.end());
}

}  // namespace

IfdEntry OrientationEntry(std::uint16_t value) { return IfdEntry{0x0112, 3, 1, value}; }

Bytes ExifSegment(ByteOrder order, std::vector<IfdEntry> const& ifd0,
                  std::vector<IfdEntry> const& ifd1) {
  Bytes preview;
  std::vector<IfdEntry> thumbnail_ifd = ifd1;
  std::uint32_t const ifd0_size = 2 + 12 * static_cast<std::uint32_t>(ifd0.size()) + 4;
  if (!ifd1.empty()) {
    ScopedGdImage small = SolidPicture(8, 8, kGreen);
    preview = Encode(small.get(), Format::kJpeg);
    std::uint32_t const ifd1_size = 2 + 12 * static_cast<std::uint32_t>(ifd1.size() + 2) + 4;
    thumbnail_ifd.push_back({0x0201, 4, 1, 8 + ifd0_size + ifd1_size});  // preview offset
    thumbnail_ifd.push_back({0x0202, 4, 1, static_cast<std::uint32_t>(preview.size())});
  }
  Bytes tiff;
  PutText(&tiff, order == ByteOrder::kMotorola ? "MM" : "II");
  Put16(&tiff, order, 42);
  Put32(&tiff, order, 8);
  PutIfd(&tiff, order, ifd0, ifd1.empty() ? 0 : 8 + ifd0_size);
  if (!ifd1.empty()) PutIfd(&tiff, order, thumbnail_ifd, 0);
  tiff.insert(tiff.end(), preview.begin(), preview.end());

  Bytes segment = {0xFF, 0xE1};
  Put16(&segment, ByteOrder::kMotorola, static_cast<std::uint32_t>(2 + 6 + tiff.size()));
  PutText(&segment, std::string("Exif\0\0", 6));
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  return segment;
}

Bytes InsertSegment(Bytes const& jpeg, Bytes const& segment) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);  // FF D8
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

Bytes ApicFrame(int version, std::string const& mime, Bytes const& picture) {
  Bytes body = {0x00};  // ISO-8859-1 text
  PutText(&body, mime);
  body.push_back(0x00);
  body.push_back(0x03);  // front cover
  body.push_back(0x00);  // empty description
  body.insert(body.end(), picture.begin(), picture.end());

  Bytes frame;
  PutText(&frame, "APIC");
  if (version == 4) {
    PutSynchsafe32(&frame, static_cast<std::uint32_t>(body.size()));
  } else {
    PutBigEndian32(&frame, static_cast<std::uint32_t>(body.size()));
  }
  frame.push_back(0x00);
  frame.push_back(0x00);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

Bytes Mp3File(int version, std::vector<Bytes> const& frames) {
  Bytes content;
  for (Bytes const& frame : frames) content.insert(content.end(), frame.begin(), frame.end());
  Bytes file;
  if (!frames.empty()) {
    PutText(&file, "ID3");
    file.push_back(static_cast<unsigned char>(version));
    file.push_back(0x00);  // revision
    file.push_back(0x00);  // flags
    PutSynchsafe32(&file, static_cast<std::uint32_t>(content.size()));
    file.insert(file.end(), content.begin(), content.end());
  }
  Bytes const audio = {0xFF, 0xFB, 0x90, 0x00};  // MPEG-1 layer III frame header
  file.insert(file.end(), audio.begin(), audio.end());
  file.resize(file.size() + 413, 0x00);
  return file;
}

void WriteFile(std::string const& path, Bytes const& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file) << path;
  EXPECT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
}

ScopedGdImage DecodeThumbnail(QLThumbnailData const& data) {
  if (!data.thumbnail || data.thumbnail_size <= 0) return ScopedGdImage();
  return ScopedGdImage(
      gdImageCreateFromPngPtr(static_cast<int>(data.thumbnail_size), data.thumbnail.get()));
}

void WriteDefaultPictures(std::string const& folder) {
  struct {
    char const* name;
    Rgb color;
  } const pictures[] = {{"image.jpg", kImageColor},
                        {"audio.jpg", kAudioColor},
                        {"video.jpg", kVideoColor},
                        {"doc.jpg", kDocColor},
                        {"any_file.jpg", kAnyColor}};
  for (auto const& picture : pictures) {
    WriteFile(folder + "/" + picture.name,
              Encode(SolidPicture(64, 48, picture.color).get(), Format::kJpeg));
  }
}

}  // namespace qlimg
