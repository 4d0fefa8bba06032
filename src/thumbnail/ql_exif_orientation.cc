#include "thumbnail/ql_exif_orientation.h"

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <libexif/exif-utils.h>

#include <memory>

namespace {

struct ExifDataUnref {
  void operator()(ExifData* data) const {
    if (data) exif_data_unref(data);
  }
};

int const kUpright = 1;

}  // namespace

int ReadExifOrientation(std::string const& path) {
  ExifLoader* loader = exif_loader_new();
  if (!loader) return kUpright;
  exif_loader_write_file(loader, path.c_str());
  std::unique_ptr<ExifData, ExifDataUnref> data(exif_loader_get_data(loader));
  exif_loader_unref(loader);
  if (!data) return kUpright;

  // Only the main picture's IFD counts: an Orientation in the thumbnail IFD
  // describes the embedded preview, not the picture we decode.
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  // The entry's declared format and count are not trusted, but its buffer
  // must really hold the two bytes we read.
  if (!entry || !entry->data || entry->size < 2) return kUpright;
  int const value = exif_get_short(entry->data, exif_data_get_byte_order(data.get()));
  return value >= 0x8000 ? value - 0x10000 : value;
}
