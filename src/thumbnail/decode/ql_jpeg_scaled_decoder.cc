#include "thumbnail/decode/ql_jpeg_scaled_decoder.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "log/ql_log.h"
#include "thumbnail/decode/ql_jpeg_errors.h"
#include "thumbnail/ql_gd_deleters.h"

namespace {

// What the C-style decode hands back: plain values only.
struct RawDecode {
  gdImagePtr image;
  int original_width;
  int original_height;
  int denominator;
};

enum RawStatus { kRawDecoded, kRawFailed, kRawUnsupported, kRawNoMemory };

// The whole libjpeg conversation. Between setjmp and the last libjpeg call
// only plain C data lives in this frame, so the longjmp from JpegErrorExit
// skips no destructor (ql_jpeg_errors.h). `image` is volatile because it changes after setjmp
// and is read after the jump.
RawStatus DecodeRaw(std::FILE* file, unsigned char const* bytes, unsigned long size, int width,
                    int height, bool full_screen, QLJpegErrors* errors, RawDecode* out) {
  jpeg_decompress_struct cinfo;
  gdImagePtr volatile image = nullptr;
  UseJpegErrors(&cinfo, errors);
  if (setjmp(errors->jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    if (image) gdImageDestroy(image);
    return kRawFailed;
  }
  jpeg_create_decompress(&cinfo);
  if (file) {
    jpeg_stdio_src(&cinfo, file);
  } else {
    jpeg_mem_src(&cinfo, bytes, size);
  }
  jpeg_read_header(&cinfo, TRUE);
  out->original_width = static_cast<int>(cinfo.image_width);
  out->original_height = static_cast<int>(cinfo.image_height);
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
    jpeg_destroy_decompress(&cinfo);
    return kRawUnsupported;
  }
  QLThumbnailGeometry const geometry = ComputeThumbnailGeometry(
      out->original_width, out->original_height, width, height, full_screen);
  out->denominator = ChooseJpegScaleDenominator(geometry);
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned int>(out->denominator);
  cinfo.out_color_space = JCS_RGB;  // grayscale and YCbCr alike
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    return kRawFailed;
  }
  int const out_width = static_cast<int>(cinfo.output_width);
  int const out_height = static_cast<int>(cinfo.output_height);
  image = gdImageCreateTrueColor(out_width, out_height);
  if (!image) {
    jpeg_destroy_decompress(&cinfo);
    return kRawNoMemory;
  }
  // The row buffer belongs to libjpeg's pool and goes with the decompressor.
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * 3, 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    int const y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) break;  // suspended: cannot happen here
    JSAMPLE const* in = row[0];
    int* pixels = image->tpixels[y];
    for (int x = 0; x < out_width; ++x, in += 3) pixels[x] = gdTrueColor(in[0], in[1], in[2]);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  out->image = image;
  return kRawDecoded;
}

QLJpegDecodeStatus Decode(std::FILE* file, unsigned char const* bytes, std::size_t size, int width,
                          int height, bool full_screen, QLDecodedPicture* out) {
  if (!out || (!file && !bytes)) return QLJpegDecodeStatus::kFailed;
  if (!file && size > ULONG_MAX) return QLJpegDecodeStatus::kFailed;
  QLJpegErrors errors;
  RawDecode raw = {nullptr, 0, 0, 1};
  RawStatus const status = DecodeRaw(file, bytes, static_cast<unsigned long>(size), width, height,
                                     full_screen, &errors, &raw);
  if (errors.warning[0] != '\0') QL_DEBUG("JPEG decoder warning: " << errors.warning);
  switch (status) {
    case kRawDecoded:
      out->picture.reset(raw.image, gdImgDestroyDeleter());
      out->original_width = raw.original_width;
      out->original_height = raw.original_height;
      out->denominator = raw.denominator;
      QL_DEBUG("JPEG of " << raw.original_width << "x" << raw.original_height << " decoded at 1/"
                          << raw.denominator << ": " << gdImageSX(raw.image) << "x"
                          << gdImageSY(raw.image));
      return QLJpegDecodeStatus::kDecoded;
    case kRawUnsupported:
      return QLJpegDecodeStatus::kUnsupported;
    case kRawNoMemory:
      QL_WARN("JPEG decoder: no memory for a picture of "
              << raw.original_width << "x" << raw.original_height << " at 1/" << raw.denominator);
      return QLJpegDecodeStatus::kFailed;
    case kRawFailed:
    default:
      QL_WARN("JPEG decoder: " << (errors.error[0] ? errors.error : "unexpected output format"));
      return QLJpegDecodeStatus::kFailed;
  }
}

}  // namespace

int ChooseJpegScaleDenominator(QLThumbnailGeometry const& g) {
  if (g.canvas_width <= 0 || g.canvas_height <= 0) return 1;
  for (int denominator : {8, 4, 2}) {
    if (static_cast<std::int64_t>(g.source_width) >=
            static_cast<std::int64_t>(g.canvas_width) * denominator &&
        static_cast<std::int64_t>(g.source_height) >=
            static_cast<std::int64_t>(g.canvas_height) * denominator) {
      return denominator;
    }
  }
  return 1;
}

QLJpegDecodeStatus DecodeJpegScaled(std::FILE* file, int width, int height, bool full_screen,
                                    QLDecodedPicture* out) {
  if (!file) return QLJpegDecodeStatus::kFailed;
  return Decode(file, nullptr, 0, width, height, full_screen, out);
}

QLJpegDecodeStatus DecodeJpegScaled(void const* bytes, std::size_t size, int width, int height,
                                    bool full_screen, QLDecodedPicture* out) {
  if (!bytes) return QLJpegDecodeStatus::kFailed;
  return Decode(nullptr, static_cast<unsigned char const*>(bytes), size, width, height, full_screen,
                out);
}

QLDecodedPicture DecodeJpegForThumbnail(std::FILE* file, int width, int height, bool full_screen,
                                        bool shrink_on_load) {
  QLDecodedPicture decoded;
  if (!file) return decoded;
  if (shrink_on_load) {
    QLJpegDecodeStatus const status = DecodeJpegScaled(file, width, height, full_screen, &decoded);
    if (status == QLJpegDecodeStatus::kDecoded) return decoded;
    decoded = QLDecodedPicture();
    if (status == QLJpegDecodeStatus::kFailed || std::fseek(file, 0, SEEK_SET) != 0) {
      return decoded;
    }
    std::clearerr(file);
  }
  decoded.picture.reset(gdImageCreateFromJpeg(file), gdImgDestroyDeleter());
  if (decoded.picture) {
    decoded.original_width = gdImageSX(decoded.picture.get());
    decoded.original_height = gdImageSY(decoded.picture.get());
  }
  return decoded;
}
