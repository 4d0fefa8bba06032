#include "thumbnail/decode/ql_exif_orientation.h"

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <libexif/exif-utils.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "thumbnail/ql_regular_file.h"

namespace {

struct ExifDataUnref {
  void operator()(ExifData* data) const {
    if (data) exif_data_unref(data);
  }
};

int const kUpright = 1;
// An APP1 segment's length field counts at most 65535 bytes.
unsigned int const kLargestSegment = 65535;

// Feeds the file to the loader in the pieces libexif's own file reader uses,
// until the loader has what it needs or the file ends.
void FeedLoader(ExifLoader* loader, int fd) {
  unsigned char piece[1024];
  off_t offset = 0;
  for (;;) {
    ssize_t const got = pread(fd, piece, sizeof piece, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    offset += got;
    if (!exif_loader_write(loader, piece, static_cast<unsigned int>(got))) return;
  }
}

}  // namespace

int ReadExifOrientation(std::string const& path) {
  QLRegularFile file(path);
  return file.is_open() ? ReadExifOrientation(file.fd()) : kUpright;
}

int ReadExifOrientation(int fd) { return ReadExifOrientation(fd, nullptr); }

int ReadExifOrientation(int fd, std::string* preview) {
  if (preview) preview->clear();
  ExifLoader* loader = exif_loader_new();
  if (!loader) return kUpright;
  FeedLoader(loader, fd);
  std::unique_ptr<ExifData, ExifDataUnref> data(exif_loader_get_data(loader));
  exif_loader_unref(loader);
  if (!data) return kUpright;
  // libexif keeps the preview only when IFD 1's offset and length lie inside
  // the segment it read.
  if (preview && data->data && data->size > 0 && data->size <= kLargestSegment) {
    preview->assign(reinterpret_cast<char const*>(data->data), data->size);
  }

  // Only the main picture's IFD counts: an Orientation in the thumbnail IFD
  // describes the embedded preview, not the picture we decode.
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  // The entry's declared format and count are not trusted, but its buffer
  // must really hold the two bytes we read.
  if (!entry || !entry->data || entry->size < 2) return kUpright;
  int const value = exif_get_short(entry->data, exif_data_get_byte_order(data.get()));
  return value >= 0x8000 ? value - 0x10000 : value;
}
