#include "support/ql_sample_files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace qltest {

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

Rgb ColorAt(gdImagePtr image, int x, int y) {
  int const c = gdImageGetTrueColorPixel(image, x, y);
  return Rgb{gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)};
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
  std::unique_ptr<void, void (*)(void*)> owner(buffer, gdFree);
  unsigned char const* bytes = static_cast<unsigned char const*>(buffer);
  return buffer ? Bytes(bytes, bytes + size) : Bytes();
}

Picture SolidPicture(int width, int height, Rgb color) {
  Picture image(gdImageCreateTrueColor(width, height));
  if (image) {
    gdImageFilledRectangle(image.get(), 0, 0, width - 1, height - 1,
                           gdTrueColor(color.r, color.g, color.b));
  }
  return image;
}

// x + 1 and y + 1 as 12-bit numbers: low bytes in red and blue, high nibbles
// in green.
Picture CoordinatePicture(int width, int height) {
  Picture image(gdImageCreateTrueColor(width, height));
  for (int y = 0; image && y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int const cx = x + 1, cy = y + 1;
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

Bytes Solid(Format format, int width, int height, Rgb color) {
  Picture image = SolidPicture(width, height, color);
  return image ? Encode(image.get(), format) : Bytes();
}

bool PngSize(unsigned char const* data, std::size_t size, std::uint32_t* width,
             std::uint32_t* height) {
  static unsigned char const kStart[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                           0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  if (size < 24 || !std::equal(kStart, kStart + 16, data)) return false;
  auto be32 = [data](std::size_t at) {
    return (std::uint32_t(data[at]) << 24) | (std::uint32_t(data[at + 1]) << 16) |
           (std::uint32_t(data[at + 2]) << 8) | std::uint32_t(data[at + 3]);
  };
  *width = be32(16);
  *height = be32(20);
  return true;
}

Rgb const kImageColor = {230, 120, 20};
Rgb const kAudioColor = {240, 230, 30};
Rgb const kVideoColor = {30, 200, 200};
Rgb const kDocColor = {150, 60, 200};
Rgb const kAnyColor = {120, 120, 120};

bool WriteDefaultPictures(std::string const& folder) {
  struct {
    char const* name;
    Rgb color;
  } const pictures[] = {{"image.jpg", kImageColor},
                        {"audio.jpg", kAudioColor},
                        {"video.jpg", kVideoColor},
                        {"doc.jpg", kDocColor},
                        {"any_file.jpg", kAnyColor}};
  for (auto const& picture : pictures) {
    Bytes const jpeg = Solid(Format::kJpeg, 64, 48, picture.color);
    if (jpeg.empty() || !WriteBytes(folder + "/" + picture.name, jpeg)) return false;
  }
  return true;
}

namespace {

void Put16(Bytes* out, ByteOrder order, std::uint32_t value) {
  bool const big = order == ByteOrder::kMotorola;
  out->push_back(((big ? value >> 8 : value)) & 0xFF);
  out->push_back(((big ? value : value >> 8)) & 0xFF);
}

void Put32(Bytes* out, ByteOrder order, std::uint32_t value) {
  bool const big = order == ByteOrder::kMotorola;
  Put16(out, order, big ? value >> 16 : value & 0xFFFF);
  Put16(out, order, big ? value & 0xFFFF : value >> 16);
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

void PutSynchsafe32(Bytes* out, std::uint32_t value) {
  for (int shift = 21; shift >= 0; shift -= 7) out->push_back((value >> shift) & 0x7F);
}

void PutText(Bytes* out, std::string const& text) {
  out->insert(out->end(), text.begin(), text.end());
}

}  // namespace

IfdEntry OrientationEntry(std::uint16_t value) { return IfdEntry{0x0112, 3, 1, value}; }

Bytes ExifSegment(ByteOrder order, std::vector<IfdEntry> const& ifd0) {
  Bytes tiff;
  PutText(&tiff, order == ByteOrder::kMotorola ? "MM" : "II");
  Put16(&tiff, order, 42);
  Put32(&tiff, order, 8);
  PutIfd(&tiff, order, ifd0, 0);
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
  body.insert(body.end(), {0x00, 0x03, 0x00});  // mime end, front cover, empty description
  body.insert(body.end(), picture.begin(), picture.end());

  Bytes frame;
  PutText(&frame, "APIC");
  std::uint32_t const size = static_cast<std::uint32_t>(body.size());
  if (version == 4) {
    PutSynchsafe32(&frame, size);
  } else {
    Put32(&frame, ByteOrder::kMotorola, size);
  }
  frame.insert(frame.end(), {0x00, 0x00});
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

Bytes Mp3File(int version, std::vector<Bytes> const& frames) {
  Bytes content;
  for (Bytes const& frame : frames) content.insert(content.end(), frame.begin(), frame.end());
  Bytes file;
  if (!frames.empty()) {
    PutText(&file, "ID3");
    file.insert(file.end(), {static_cast<unsigned char>(version), 0x00, 0x00});  // rev, flags
    PutSynchsafe32(&file, static_cast<std::uint32_t>(content.size()));
    file.insert(file.end(), content.begin(), content.end());
  }
  file.insert(file.end(), {0xFF, 0xFB, 0x90, 0x00});  // MPEG-1 layer III frame header
  file.resize(file.size() + 413, 0x00);
  return file;
}

std::string RequestBody(std::string const& path, std::string const& width,
                        std::string const& height, std::string const& full_screen,
                        std::string const& id, std::string const& cache,
                        std::string const& defaults) {
  return "{\"_path\":\"" + path + "\",\"_width\":" + width + ",\"_height\":" + height +
         ",\"_full_screen\":" + full_screen + ",\"_resource_id\":" + id +
         ",\"_thumbnail_folder\":\"" + cache + "\",\"_default_thumbnail_folder\":\"" + defaults +
         "\"}";
}

bool WriteBytes(std::string const& path, Bytes const& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<char const*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

Bytes ReadBytes(std::string const& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qltest
