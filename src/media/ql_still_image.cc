#include "media/ql_still_image.h"

#include <avif/avif.h>
#include <libheif/heif.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

namespace {

bool Fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

// The whole file from offset 0: the daemon's header probe has moved the
// shared offset.
bool ReadWholeFile(int fd, std::vector<std::uint8_t>* bytes, std::string* error) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Fail(error, "not a regular file");
  if (info.st_size <= 0) return Fail(error, "empty file");
  if (static_cast<std::uint64_t>(info.st_size) > kQLMaxStillFileBytes) {
    return Fail(error, "file too large");
  }
  try {
    bytes->resize(static_cast<std::size_t>(info.st_size));
  } catch (std::bad_alloc const&) {
    return Fail(error, "out of memory");
  }
  std::size_t have = 0;
  while (have < bytes->size()) {
    ssize_t const got =
        pread(fd, bytes->data() + have, bytes->size() - have, static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Fail(error, "cannot read the file");
    have += static_cast<std::size_t>(got);
  }
  return true;
}

bool OverLimit(std::uint64_t width, std::uint64_t height, std::uint64_t max_pixels) {
  return width == 0 || height == 0 || width > (1u << 20) || height > (1u << 20) ||
         width * height > max_pixels;
}

std::string SizeText(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Samples the decoded rows (3 or 4 bytes a pixel) down to the answer's size.
bool SampleToAnswer(std::uint8_t const* pixels, std::size_t stride, int channels,
                    std::uint32_t width, std::uint32_t height, QLFrameRequest const& request,
                    QLMediaAnswer* answer, std::string* error) {
  std::uint32_t out_width = 0;
  std::uint32_t out_height = 0;
  ChooseVideoOutputSize(width, height, request, &out_width, &out_height);
  try {
    answer->payload.resize(static_cast<std::size_t>(out_width) * out_height * 3);
  } catch (std::bad_alloc const&) {
    return Fail(error, "out of memory");
  }
  std::uint8_t* out = answer->payload.data();
  for (std::uint32_t y = 0; y < out_height; ++y) {
    std::uint8_t const* row =
        pixels + stride * static_cast<std::size_t>(
                              (static_cast<std::uint64_t>(y) * height + height / 2) / out_height);
    for (std::uint32_t x = 0; x < out_width; ++x, out += 3) {
      std::size_t const column =
          static_cast<std::size_t>((static_cast<std::uint64_t>(x) * width + width / 2) / out_width);
      std::uint8_t const* p = row + column * static_cast<std::size_t>(channels);
      unsigned const alpha = channels == 4 ? p[3] : 255;
      for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((p[c] * alpha + 127) / 255);
    }
  }
  answer->kind = QLMediaAnswerKind::kRgbPixels;
  answer->orientation = 1;
  answer->width = out_width;
  answer->height = out_height;
  answer->original_width = width;
  answer->original_height = height;
  return true;
}

struct HeifContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HeifOptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

bool HeifFailed(heif_error const& result, std::string* error) {
  if (result.code == heif_error_Ok) return false;
  Fail(error, std::string("libheif: ") + (result.message ? result.message : "error"));
  return true;
}

bool DecodeHeif(std::vector<std::uint8_t> const& bytes, QLFrameRequest const& request,
                QLMediaAnswer* answer, std::string* error) {
  std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  if (!context) return Fail(error, "out of memory");
  if (HeifFailed(heif_context_read_from_memory_without_copy(context.get(), bytes.data(),
                                                            bytes.size(), nullptr),
                 error)) {
    return false;
  }
  heif_image_handle* primary = nullptr;
  if (HeifFailed(heif_context_get_primary_image_handle(context.get(), &primary), error)) {
    return false;
  }
  std::unique_ptr<heif_image_handle, HeifHandleRelease> handle(primary);
  int const ispe_width = heif_image_handle_get_ispe_width(handle.get());
  int const ispe_height = heif_image_handle_get_ispe_height(handle.get());
  if (ispe_width < 0 || ispe_height < 0 ||
      OverLimit(static_cast<std::uint64_t>(ispe_width), static_cast<std::uint64_t>(ispe_height),
                request.max_source_pixels)) {
    return Fail(error, "picture of " + SizeText(ispe_width, ispe_height) +
                           " pixels is over the source limit");
  }
  std::unique_ptr<heif_decoding_options, HeifOptionsFree> options(heif_decoding_options_alloc());
  if (!options) return Fail(error, "out of memory");
  // The stored picture: the daemon turns the thumbnail by the irot and imir
  // its own header probe read.
  options->ignore_transformations = 1;
  bool const alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  heif_image* decoded = nullptr;
  if (HeifFailed(
          heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                            options.get()),
          error)) {
    return false;
  }
  std::unique_ptr<heif_image, HeifImageRelease> image(decoded);
  int const width = heif_image_get_width(image.get(), heif_channel_interleaved);
  int const height = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  std::uint8_t const* pixels =
      heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  int const channels = alpha ? 4 : 3;
  if (!pixels || width <= 0 || height <= 0 ||
      heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8 ||
      stride < width * channels) {
    return Fail(error, "libheif: no 8-bit RGB picture");
  }
  if (OverLimit(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                request.max_source_pixels)) {
    return Fail(error, "decoded picture of " + SizeText(width, height) +
                           " pixels is over the source limit");
  }
  return SampleToAnswer(pixels, static_cast<std::size_t>(stride), channels,
                        static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                        request, answer, error);
}

struct AvifDecoderDestroy {
  void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};

bool DecodeAvif(std::vector<std::uint8_t> const& bytes, QLFrameRequest const& request,
                QLMediaAnswer* answer, std::string* error) {
  std::unique_ptr<avifDecoder, AvifDecoderDestroy> decoder(avifDecoderCreate());
  if (!decoder) return Fail(error, "out of memory");
  // One thread: the helper's CPU limit is per process.
  decoder->maxThreads = 1;
  decoder->ignoreExif = AVIF_TRUE;
  decoder->ignoreXMP = AVIF_TRUE;
  decoder->imageCountLimit = 1;
  decoder->imageSizeLimit = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(request.max_source_pixels, AVIF_DEFAULT_IMAGE_SIZE_LIMIT));
  avifResult result = avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size());
  if (result == AVIF_RESULT_OK) result = avifDecoderParse(decoder.get());
  if (result == AVIF_RESULT_OK) result = avifDecoderNextImage(decoder.get());
  if (result != AVIF_RESULT_OK)
    return Fail(error, std::string("libavif: ") + avifResultToString(result));
  avifImage const* image = decoder->image;
  if (OverLimit(image->width, image->height, request.max_source_pixels)) {
    return Fail(error, "picture of " + SizeText(image->width, image->height) +
                           " pixels is over the source limit");
  }
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, image);
  rgb.format = AVIF_RGB_FORMAT_RGBA;
  rgb.depth = 8;
  rgb.rowBytes = rgb.width * 4;
  std::unique_ptr<std::uint8_t[]> pixels(
      new (std::nothrow) std::uint8_t[static_cast<std::size_t>(rgb.rowBytes) * rgb.height]);
  if (!pixels) return Fail(error, "out of memory");
  rgb.pixels = pixels.get();
  result = avifImageYUVToRGB(image, &rgb);
  if (result != AVIF_RESULT_OK)
    return Fail(error, std::string("libavif: ") + avifResultToString(result));
  return SampleToAnswer(rgb.pixels, rgb.rowBytes, 4, rgb.width, rgb.height, request, answer, error);
}

}  // namespace

bool ExtractStillImage(int fd, QLStillFormat format, QLFrameRequest const& request,
                       QLMediaAnswer* answer, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(fd, &bytes, error)) return false;
  return format == QLStillFormat::kHeif ? DecodeHeif(bytes, request, answer, error)
                                        : DecodeAvif(bytes, request, answer, error);
}
