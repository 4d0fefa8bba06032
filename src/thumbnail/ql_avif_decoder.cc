#include "thumbnail/ql_avif_decoder.h"

#include <avif/avif.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "log/ql_log.h"

namespace {

struct AvifDecoderDestroy {
  void operator()(avifDecoder* decoder) const {
    if (decoder) avifDecoderDestroy(decoder);
  }
};

// The whole file, or false when it cannot be read or is too large.
bool ReadWholeFile(std::FILE* file, std::vector<unsigned char>* bytes) {
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || status.st_size <= 0 ||
      static_cast<std::uint64_t>(status.st_size) > kQLMaxAvifFileBytes) {
    return false;
  }
  try {
    bytes->resize(static_cast<std::size_t>(status.st_size));
  } catch (std::bad_alloc const&) {
    return false;
  }
  return std::fseek(file, 0, SEEK_SET) == 0 &&
         std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
}

}  // namespace

gdImagePtr DecodeAvifFile(std::FILE* file, std::uint64_t max_pixels) {
  std::vector<unsigned char> bytes;
  if (!file || !ReadWholeFile(file, &bytes)) return nullptr;
  std::unique_ptr<avifDecoder, AvifDecoderDestroy> decoder(avifDecoderCreate());
  if (!decoder) return nullptr;
  decoder->maxThreads = 1;
  decoder->ignoreExif = AVIF_TRUE;
  decoder->ignoreXMP = AVIF_TRUE;
  decoder->imageCountLimit = 1;
  decoder->imageSizeLimit = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(max_pixels, AVIF_DEFAULT_IMAGE_SIZE_LIMIT));
  avifResult result = avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size());
  if (result == AVIF_RESULT_OK) result = avifDecoderParse(decoder.get());
  if (result == AVIF_RESULT_OK) result = avifDecoderNextImage(decoder.get());
  if (result != AVIF_RESULT_OK) {
    QL_WARN("libavif: " << avifResultToString(result));
    return nullptr;
  }
  avifImage const* image = decoder->image;
  if (static_cast<std::uint64_t>(image->width) * image->height > max_pixels ||
      image->width > static_cast<std::uint32_t>(INT32_MAX / 4) || image->height == 0) {
    return nullptr;
  }

  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image);
  rgb.format = AVIF_RGB_FORMAT_RGBA;
  rgb.depth = 8;
  rgb.rowBytes = rgb.width * 4;
  // Our own buffer: libavif's allocator aborts the process when memory runs out.
  std::unique_ptr<unsigned char[]> pixels(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(rgb.rowBytes) * rgb.height]);
  if (!pixels) return nullptr;
  rgb.pixels = pixels.get();
  if (avifImageYUVToRGB(image, &rgb) != AVIF_RESULT_OK) return nullptr;

  gdImagePtr picture =
      gdImageCreateTrueColor(static_cast<int>(rgb.width), static_cast<int>(rgb.height));
  if (!picture) return nullptr;
  for (std::uint32_t y = 0; y < rgb.height; ++y) {
    unsigned char const* p = rgb.pixels + static_cast<std::size_t>(y) * rgb.rowBytes;
    for (std::uint32_t x = 0; x < rgb.width; ++x, p += 4) {
      // libgd's alpha runs from 0 (opaque) to 127 (transparent).
      picture->tpixels[y][x] = gdTrueColorAlpha(p[0], p[1], p[2], gdAlphaMax - (p[3] >> 1));
    }
  }
  return picture;
}
