#include "media/ql_still_image.h"

#include <avif/avif.h>
#include <jxl/decode.h>
#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "media/ql_decoder_input.h"

namespace {

bool Fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

std::string SizeText(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
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
      PictureOverLimit(static_cast<std::uint64_t>(ispe_width),
                       static_cast<std::uint64_t>(ispe_height), request.max_source_pixels)) {
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
  if (PictureOverLimit(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                       request.max_source_pixels)) {
    return Fail(error, "decoded picture of " + SizeText(width, height) +
                           " pixels is over the source limit");
  }
  return SampleRowsToAnswer(pixels, static_cast<std::size_t>(stride), channels,
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
  if (PictureOverLimit(image->width, image->height, request.max_source_pixels)) {
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
  return SampleRowsToAnswer(rgb.pixels, rgb.rowBytes, 4, rgb.width, rgb.height, request, answer,
                            error);
}

struct JxlDecoderFree {
  void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};

// The first frame, as stored: libjxl keeps the orientation for the daemon,
// which turns the thumbnail. The size in the basic info is checked before
// the output buffer exists. Colour management would take the file's profile
// at JXL_DEC_COLOR_ENCODING (JxlDecoderGetColorAsICCProfile); the pixels
// are libjxl's default rendition, sRGB for the files encoders write.
bool DecodeJxl(std::vector<std::uint8_t> const& bytes, QLFrameRequest const& request,
               QLMediaAnswer* answer, std::string* error) {
  std::unique_ptr<JxlDecoder, JxlDecoderFree> decoder(JxlDecoderCreate(nullptr));
  if (!decoder) return Fail(error, "out of memory");
  if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) !=
          JXL_DEC_SUCCESS ||
      JxlDecoderSetKeepOrientation(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(decoder.get(), bytes.data(), bytes.size()) != JXL_DEC_SUCCESS) {
    return Fail(error, "libjxl: cannot set up the decoder");
  }
  JxlDecoderCloseInput(decoder.get());
  JxlBasicInfo info = {};
  bool have_info = false;
  JxlPixelFormat format = {3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  std::vector<std::uint8_t> pixels;
  for (;;) {
    JxlDecoderStatus const status = JxlDecoderProcessInput(decoder.get());
    if (status == JXL_DEC_BASIC_INFO) {
      if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS) {
        return Fail(error, "libjxl: no basic info");
      }
      if (PictureOverLimit(info.xsize, info.ysize, request.max_source_pixels)) {
        return Fail(error, "picture of " + SizeText(info.xsize, info.ysize) +
                               " pixels is over the source limit");
      }
      format.num_channels = info.alpha_bits > 0 ? 4 : 3;
      have_info = true;
    } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
      std::size_t size = 0;
      if (!have_info ||
          JxlDecoderImageOutBufferSize(decoder.get(), &format, &size) != JXL_DEC_SUCCESS ||
          size != static_cast<std::size_t>(info.xsize) * info.ysize * format.num_channels) {
        return Fail(error, "libjxl: unexpected output size");
      }
      try {
        pixels.resize(size);
      } catch (std::bad_alloc const&) {
        return Fail(error, "out of memory");
      }
      if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, pixels.data(), pixels.size()) !=
          JXL_DEC_SUCCESS) {
        return Fail(error, "libjxl: output buffer refused");
      }
    } else if (status == JXL_DEC_FULL_IMAGE) {
      break;  // the first frame is the picture
    } else if (status == JXL_DEC_NEED_MORE_INPUT) {
      return Fail(error, "libjxl: the file ends early");
    } else {
      return Fail(error, "libjxl: the file does not decode");
    }
  }
  if (pixels.empty()) return Fail(error, "libjxl: no picture");
  if (!SampleRowsToAnswer(pixels.data(), static_cast<std::size_t>(info.xsize) * format.num_channels,
                          static_cast<int>(format.num_channels), info.xsize, info.ysize, request,
                          answer, error)) {
    return false;
  }
  answer->orientation = info.orientation >= 1 && info.orientation <= 8 ? info.orientation : 1;
  return true;
}

}  // namespace

bool ExtractStillImage(int fd, QLStillFormat format, QLFrameRequest const& request,
                       QLMediaAnswer* answer, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(fd, kQLMaxStillFileBytes, &bytes, error)) return false;
  switch (format) {
    case QLStillFormat::kHeif:
      return DecodeHeif(bytes, request, answer, error);
    case QLStillFormat::kAvif:
      return DecodeAvif(bytes, request, answer, error);
    case QLStillFormat::kJxl:
      return DecodeJxl(bytes, request, answer, error);
  }
  return Fail(error, "unknown format");
}
