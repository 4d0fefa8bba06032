#include "support/ql_exif_preview.h"

namespace qltest {
namespace {

void Put16(Bytes* out, std::uint32_t value) {
  out->push_back(static_cast<unsigned char>(value >> 8));
  out->push_back(static_cast<unsigned char>(value));
}

void Put32(Bytes* out, std::uint32_t value) {
  Put16(out, value >> 16);
  Put16(out, value & 0xFFFF);
}

// One IFD entry whose value fits the 4-byte field (SHORT: left-justified).
void PutEntry(Bytes* out, std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
  Put16(out, tag);
  Put16(out, type);
  Put32(out, 1);
  if (type == 3) {
    Put16(out, value);
    Put16(out, 0);
  } else {
    Put32(out, value);
  }
}

}  // namespace

Bytes ExifSegmentWithPreview(std::uint16_t orientation, Bytes const& preview) {
  std::uint32_t const ifd0 = 8, ifd1 = ifd0 + 2 + 12 + 4, data = ifd1 + 2 + 2 * 12 + 4;
  Bytes tiff = {'M', 'M'};
  Put16(&tiff, 42);
  Put32(&tiff, ifd0);
  Put16(&tiff, 1);
  PutEntry(&tiff, 0x0112, 3, orientation);  // Orientation
  Put32(&tiff, ifd1);
  Put16(&tiff, 2);
  PutEntry(&tiff, 0x0201, 4, data);  // JPEGInterchangeFormat
  PutEntry(&tiff, 0x0202, 4, static_cast<std::uint32_t>(preview.size()));
  Put32(&tiff, 0);
  tiff.insert(tiff.end(), preview.begin(), preview.end());

  Bytes segment = {0xFF, 0xE1};
  Put16(&segment, static_cast<std::uint32_t>(2 + 6 + tiff.size()));
  segment.insert(segment.end(), {'E', 'x', 'i', 'f', 0, 0});
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  return segment;
}

Bytes JpegWithPreview(int width, int height, Rgb photo_color, int preview_width, int preview_height,
                      Rgb preview_color, std::uint16_t orientation) {
  return InsertSegment(Solid(Format::kJpeg, width, height, photo_color),
                       ExifSegmentWithPreview(orientation, Solid(Format::kJpeg, preview_width,
                                                                 preview_height, preview_color)));
}

}  // namespace qltest
