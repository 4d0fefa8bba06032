#include "support/ql_sample_files.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "support/ql_temp_dir.h"

namespace qltest {

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

Rgb ColorAt(gdImagePtr image, int x, int y) {
  int const c = gdImageGetTrueColorPixel(image, x, y);
  return Rgb{gdTrueColorGetRed(c), gdTrueColorGetGreen(c), gdTrueColorGetBlue(c)};
}

double MeanDifference(gdImagePtr thumbnail, gdImagePtr shown, bool grey) {
  int const tw = gdImageSX(thumbnail), th = gdImageSY(thumbnail);
  double total = 0;
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < tw; ++x) {
      Rgb const a = ColorAt(thumbnail, x, y);
      Rgb b = ColorAt(shown, x * gdImageSX(shown) / tw, y * gdImageSY(shown) / th);
      if (grey) b.r = b.g = b.b = (299 * b.r + 587 * b.g + 114 * b.b + 500) / 1000;
      total += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
    }
  }
  return total / (3.0 * tw * th);
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
  Picture image(gdImageCreateTrueColor(width, height));
  if (!image) return Bytes();
  gdImageFilledRectangle(image.get(), 0, 0, width - 1, height - 1,
                         gdTrueColor(color.r, color.g, color.b));
  return Encode(image.get(), format);
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

Bytes ExifSegment(ByteOrder order, std::vector<IfdEntry> const& ifd0, Bytes const& preview) {
  Bytes tiff;
  PutText(&tiff, order == ByteOrder::kMotorola ? "MM" : "II");
  Put16(&tiff, order, 42);
  Put32(&tiff, order, 8);
  auto const ifd1 = static_cast<std::uint32_t>(8 + 2 + 12 * ifd0.size() + 4);
  PutIfd(&tiff, order, ifd0, preview.empty() ? 0 : ifd1);
  if (!preview.empty()) {
    PutIfd(&tiff, order,
           {{0x0201, 4, 1, ifd1 + 2 + 2 * 12 + 4},
            {0x0202, 4, 1, static_cast<std::uint32_t>(preview.size())}},
           0);
    tiff.insert(tiff.end(), preview.begin(), preview.end());
  }
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

Bytes JpegWithPreview(int width, int height, Rgb photo_color, int preview_width, int preview_height,
                      Rgb preview_color, std::uint16_t orientation) {
  return InsertSegment(
      Solid(Format::kJpeg, width, height, photo_color),
      ExifSegment(ByteOrder::kMotorola, {OrientationEntry(orientation)},
                  Solid(Format::kJpeg, preview_width, preview_height, preview_color)));
}

namespace {

// A DNG directory entry: numbers of `type` (1 BYTE, 2 ASCII, 3 SHORT, 4 LONG).
struct DngEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::vector<std::uint32_t> values;
};

DngEntry Ascii(std::uint16_t tag, std::string const& text) {
  DngEntry entry{tag, 2, std::vector<std::uint32_t>(text.begin(), text.end())};
  entry.values.push_back(0);
  return entry;
}

// A little-endian IFD placed at `offset`, its out-of-line values after it.
void PutDngIfd(Bytes* file, std::vector<DngEntry> const& entries) {
  ByteOrder const le = ByteOrder::kIntel;
  auto const offset = static_cast<std::uint32_t>(file->size());
  std::uint32_t const extra_offset = offset + 2 + 12 * entries.size() + 4;
  Bytes extra;
  Put16(file, le, static_cast<std::uint32_t>(entries.size()));
  for (DngEntry const& entry : entries) {
    Bytes value;
    for (std::uint32_t v : entry.values) {
      if (entry.type == 3) {
        Put16(&value, le, v);
      } else if (entry.type == 4) {
        Put32(&value, le, v);
      } else {
        value.push_back(static_cast<unsigned char>(v));
      }
    }
    Put16(file, le, entry.tag);
    Put16(file, le, entry.type);
    Put32(file, le, static_cast<std::uint32_t>(entry.values.size()));
    if (value.size() <= 4) {
      value.resize(4, 0);
      file->insert(file->end(), value.begin(), value.end());
    } else {
      Put32(file, le, extra_offset + static_cast<std::uint32_t>(extra.size()));
      extra.insert(extra.end(), value.begin(), value.end());
      if (extra.size() % 2) extra.push_back(0);
    }
  }
  Put32(file, le, 0);  // no next IFD
  file->insert(file->end(), extra.begin(), extra.end());
}

}  // namespace

Bytes DngWithPreview(Bytes const& preview, int preview_width, int preview_height, int orientation) {
  std::uint32_t const kRawWidth = 128;
  std::uint32_t const kRawHeight = 96;
  Bytes file = {'I', 'I', 42, 0, 0, 0, 0, 0};
  std::uint32_t const preview_offset = static_cast<std::uint32_t>(file.size());
  file.insert(file.end(), preview.begin(), preview.end());
  if (file.size() % 2) file.push_back(0);
  std::uint32_t const raw_offset = static_cast<std::uint32_t>(file.size());
  for (std::uint32_t i = 0; i < kRawWidth * kRawHeight; ++i) file.push_back(100 + i % 50);

  std::uint32_t const sub_offset = static_cast<std::uint32_t>(file.size());
  PutDngIfd(&file, {{254, 4, {0}},
                    {256, 4, {kRawWidth}},
                    {257, 4, {kRawHeight}},
                    {258, 3, {8}},
                    {259, 3, {1}},
                    {262, 3, {32803}},
                    {273, 4, {raw_offset}},
                    {277, 3, {1}},
                    {278, 4, {kRawHeight}},
                    {279, 4, {kRawWidth * kRawHeight}},
                    {33421, 3, {2, 2}},
                    {33422, 1, {0, 1, 1, 2}}});

  std::uint32_t const ifd0_offset = static_cast<std::uint32_t>(file.size());
  auto const width = static_cast<std::uint32_t>(preview_width);
  auto const height = static_cast<std::uint32_t>(preview_height);
  PutDngIfd(&file, {{254, 4, {1}},
                    {256, 4, {width}},
                    {257, 4, {height}},
                    {258, 3, {8, 8, 8}},
                    {259, 3, {7}},
                    {262, 3, {6}},
                    Ascii(271, "Quorlin"),
                    Ascii(272, "Test"),
                    {273, 4, {preview_offset}},
                    {274, 3, {static_cast<std::uint32_t>(orientation)}},
                    {277, 3, {3}},
                    {278, 4, {height}},
                    {279, 4, {static_cast<std::uint32_t>(preview.size())}},
                    {330, 4, {sub_offset}},
                    {50706, 1, {1, 4, 0, 0}},
                    Ascii(50708, "Quorlin Test")});
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<unsigned char>(ifd0_offset >> (8 * i));
  return file;
}

namespace {

bool RunQuietly(std::string const& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

bool HaveFfmpeg() { return RunQuietly("ffmpeg -version"); }

std::string MakeMarkedVideo(std::string const& folder, double seconds, int rotate) {
  std::string const plain = folder + "/plain.mp4";
  std::string const turned = folder + "/video.mp4";
  if (!RunQuietly("ffmpeg -v error -y -f lavfi -i \"color=c=red:size=320x240:rate=25:d=" +
                  std::to_string(seconds) +
                  ",drawbox=w=iw:h=ih:c=lime:t=fill:enable='gte(t,0.2)',"
                  "drawbox=w=80:h=60:c=blue:t=fill\" -c:v mpeg4 -q:v 2 '" +
                  plain + "'")) {
    return "";
  }
  if (rotate == 0) return plain;
  return RunQuietly("ffmpeg -v error -y -i '" + plain + "' -c copy -metadata:s:v:0 rotate=" +
                    std::to_string(rotate) + " '" + turned + "'")
             ? turned
             : "";
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

bool WriteBytes(std::string const& path, Bytes const& bytes) {
  return WriteFileText(path, std::string(bytes.begin(), bytes.end()));
}

Bytes ReadBytes(std::string const& path) {
  std::string const text = ReadFileText(path);
  return Bytes(text.begin(), text.end());
}

}  // namespace qltest
