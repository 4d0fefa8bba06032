#include "media/ql_raw_preview.h"

#include <libraw/libraw.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <memory>

namespace {

// A read-only mapping of a whole file, unmapped when it goes.
class MappedFile {
 public:
  MappedFile(int fd, std::size_t size)
      : size_(size), data_(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)) {}
  ~MappedFile() {
    if (valid()) munmap(data_, size_);
  }
  MappedFile(MappedFile const&) = delete;
  MappedFile& operator=(MappedFile const&) = delete;
  bool valid() const { return data_ != MAP_FAILED; }
  void* data() const { return data_; }

 private:
  std::size_t size_;
  void* data_;
};

bool Fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

}  // namespace

int RawFlipToOrientation(int flip) {
  // The same table LibRaw's own TIFF writer uses for the Orientation tag.
  static char const kOrientation[] = "12435867";
  return kOrientation[flip & 7] - '0';
}

bool ExtractRawPreview(int fd, std::uint64_t max_source_pixels, QLMediaAnswer* answer,
                       std::string* error) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Fail(error, "not a regular file");
  if (info.st_size <= 0) return Fail(error, "empty file");
  MappedFile file(fd, static_cast<std::size_t>(info.st_size));
  if (!file.valid()) return Fail(error, "cannot map the file");

  // LibRaw's state is several hundred KiB: never on the stack.
  auto raw = std::make_unique<LibRaw>();
  int status = raw->open_buffer(file.data(), static_cast<std::size_t>(info.st_size));
  if (status != LIBRAW_SUCCESS)
    return Fail(error, std::string("LibRaw: ") + libraw_strerror(status));
  libraw_thumbnail_t const& thumb = raw->imgdata.thumbnail;
  std::uint64_t const pixels = static_cast<std::uint64_t>(thumb.twidth) * thumb.theight;
  if (pixels > max_source_pixels) {
    return Fail(error, "preview of " + std::to_string(thumb.twidth) + "x" +
                           std::to_string(thumb.theight) + " pixels is over the source limit");
  }
  if (thumb.tlength > kQLMaxRawPreviewBytes) return Fail(error, "preview too large");
  status = raw->unpack_thumb();
  if (status != LIBRAW_SUCCESS)
    return Fail(error, std::string("LibRaw: ") + libraw_strerror(status));
  if (thumb.tformat != LIBRAW_THUMBNAIL_JPEG || thumb.thumb == nullptr || thumb.tlength < 4 ||
      static_cast<unsigned char>(thumb.thumb[0]) != 0xFF ||
      static_cast<unsigned char>(thumb.thumb[1]) != 0xD8) {
    return Fail(error, "no JPEG preview");
  }
  if (thumb.tlength > kQLMaxRawPreviewBytes) return Fail(error, "preview too large");
  answer->kind = QLMediaAnswerKind::kJpegPreview;
  answer->orientation = RawFlipToOrientation(raw->imgdata.sizes.flip);
  answer->width = answer->height = answer->original_width = answer->original_height = 0;
  answer->payload.assign(thumb.thumb, thumb.thumb + thumb.tlength);
  return true;
}
