#include "ql_exif_preview.h"

#include <cstdint>
#include <memory>

#include "ql_photo_synth.h"

namespace {

// TIFF and JPEG lengths are big-endian here ("MM" byte order).
void Put16(std::vector<unsigned char>* out, std::uint32_t value) {
  out->push_back(static_cast<unsigned char>(value >> 8));
  out->push_back(static_cast<unsigned char>(value));
}
void Put32(std::vector<unsigned char>* out, std::uint32_t value) {
  Put16(out, value >> 16);
  Put16(out, value & 0xFFFF);
}
// One directory entry of one SHORT (3) or LONG (4) value.
void PutEntry(std::vector<unsigned char>* out, std::uint32_t tag, std::uint32_t type,
              std::uint32_t value) {
  Put16(out, tag);
  Put16(out, type);
  Put32(out, 1);
  Put32(out, type == 3 ? value << 16 : value);  // values are left-justified
}

}  // namespace

std::vector<unsigned char> WithExifPreview(std::vector<unsigned char> const& jpeg, gdImagePtr photo,
                                           int orientation, int preview_width, int preview_height) {
  std::vector<unsigned char> out;
  ScopedPhoto small(gdImageCreateTrueColor(preview_width, preview_height));
  if (jpeg.size() < 2 || !small || orientation < 1 || orientation > 8) return out;
  gdImageCopyResampled(small.get(), photo, 0, 0, 0, 0, preview_width, preview_height,
                       gdImageSX(photo), gdImageSY(photo));
  std::vector<unsigned char> const preview = EncodeJpeg(small.get(), 85, false);
  if (preview.empty() || preview.size() > 60000) return out;

  // TIFF header, IFD 0 at 8 (Orientation), IFD 1 at 26 (the preview's
  // offset and length), the preview at 56.
  std::vector<unsigned char> tiff = {'M', 'M', 0, 42};
  Put32(&tiff, 8);
  Put16(&tiff, 1);
  PutEntry(&tiff, 0x0112, 3, static_cast<std::uint32_t>(orientation));
  Put32(&tiff, 26);
  Put16(&tiff, 2);
  PutEntry(&tiff, 0x0201, 4, 56);
  PutEntry(&tiff, 0x0202, 4, static_cast<std::uint32_t>(preview.size()));
  Put32(&tiff, 0);
  tiff.insert(tiff.end(), preview.begin(), preview.end());

  out.assign(jpeg.begin(), jpeg.begin() + 2);  // start of image
  out.push_back(0xFF);
  out.push_back(0xE1);
  Put16(&out, static_cast<std::uint32_t>(2 + 6 + tiff.size()));
  out.insert(out.end(), {'E', 'x', 'i', 'f', 0, 0});
  out.insert(out.end(), tiff.begin(), tiff.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}
