#include "thumbnail/ql_png_encoder.h"

#include <png.h>

#include <csetjmp>
#include <new>
#include <vector>

#include "thumbnail/ql_gd_deleters.h"

namespace {

const int kKnownFilterBits =
    PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_AVG | PNG_FILTER_PAETH;

typedef std::vector<unsigned char> ByteVector;

// libgd stores resolutions in dots per inch; PNG wants dots per metre,
// rounded the way libgd rounds them.
png_uint_32 DotsPerMetre(unsigned int dots_per_inch) {
  return static_cast<png_uint_32>(dots_per_inch / 0.0254 + 0.5);
}

// libpng reports errors by longjmp; this keeps its messages off stderr. The
// caller logs the failure once.
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Appends libpng's output to the ByteVector behind the io pointer. An
// allocation failure becomes a libpng error rather than an exception
// crossing C frames.
void AppendBytes(png_structp png, png_bytep bytes, png_size_t length) {
  ByteVector* out = static_cast<ByteVector*>(png_get_io_ptr(png));
  try {
    out->insert(out->end(), bytes, bytes + length);
  } catch (std::bad_alloc const&) {
    png_error(png, "out of memory");
  }
}

void FlushNothing(png_structp) {}

// Everything between setjmp and the last libpng call lives here, with only
// plain locals, so a longjmp skips no destructor. `row` holds one RGB row;
// `out` collects the stream.
bool WriteRgbPng(png_structp png, png_infop info, gdImagePtr image, int compression_level,
                 int filters, png_bytep row, ByteVector* out) {
  if (setjmp(png_jmpbuf(png))) return false;
  int const width = gdImageSX(image);
  int const height = gdImageSY(image);
  png_set_write_fn(png, out, &AppendBytes, &FlushNothing);
  if (compression_level != -1) png_set_compression_level(png, compression_level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB,
               gdImageGetInterlaced(image) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, DotsPerMetre(gdImageResolutionX(image)),
               DotsPerMetre(gdImageResolutionY(image)), PNG_RESOLUTION_METER);
  png_write_info(png, info);
  int const passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < height; ++y) {
      png_bytep channel = row;
      for (int x = 0; x < width; ++x) {
        int const pixel = gdImageTrueColorPixel(image, x, y);
        *channel++ = static_cast<png_byte>(gdTrueColorGetRed(pixel));
        *channel++ = static_cast<png_byte>(gdTrueColorGetGreen(pixel));
        *channel++ = static_cast<png_byte>(gdTrueColorGetBlue(pixel));
      }
      png_write_row(png, row);
    }
  }
  png_write_end(png, info);
  return true;
}

// The libpng write and info structures, released together.
class PngWriter {
 public:
  PngWriter()
      : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngError, &PngWarning)),
        info_(png_ ? png_create_info_struct(png_) : nullptr) {}
  ~PngWriter() {
    if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
  }
  PngWriter(PngWriter const&) = delete;
  PngWriter& operator=(PngWriter const&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_;
  png_infop info_;
};

boost::shared_ptr<void> EncodeWithFilters(gdImagePtr image, int compression_level, int filters,
                                          std::int64_t* size) {
  int const width = gdImageSX(image);
  if (width <= 0 || gdImageSY(image) <= 0) return boost::shared_ptr<void>();
  boost::shared_ptr<ByteVector> out;
  std::vector<png_byte> row;
  try {
    out.reset(new ByteVector());
    row.resize(static_cast<std::size_t>(width) * 3u);
  } catch (std::bad_alloc const&) {
    return boost::shared_ptr<void>();
  }
  PngWriter writer;
  if (!writer.png() || !writer.info()) return boost::shared_ptr<void>();
  if (!WriteRgbPng(writer.png(), writer.info(), image, compression_level, filters, row.data(),
                   out.get())) {
    return boost::shared_ptr<void>();
  }
  *size = static_cast<std::int64_t>(out->size());
  // The vector owns the bytes; the returned pointer shares its ownership.
  return boost::shared_ptr<void>(out, out->data());
}

}  // namespace

bool IsValidPngCompressionLevel(int level) { return level >= -1 && level <= 9; }

bool IsValidPngFilterMask(int filters) {
  return filters == -1 || (filters > 0 && (filters & ~kKnownFilterBits) == 0);
}

boost::shared_ptr<void> EncodeThumbnailPng(gdImagePtr image, int compression_level, int filters,
                                           std::int64_t* size) {
  *size = 0;
  if (!image) return boost::shared_ptr<void>();
  if (!IsValidPngCompressionLevel(compression_level)) compression_level = -1;
  if (!IsValidPngFilterMask(filters)) filters = -1;

  // Our own writer covers what thumbnail canvases are: true colour, no
  // transparent colour, no alpha saving. Anything else keeps libgd's writer
  // (and its default filters) rather than losing information.
  if (filters != -1 && gdImageTrueColor(image) && gdImageGetTransparent(image) == -1 &&
      !image->saveAlphaFlag) {
    return EncodeWithFilters(image, compression_level, filters, size);
  }

  int png_size = 0;
  void* png = compression_level == -1 ? gdImagePngPtr(image, &png_size)
                                      : gdImagePngPtrEx(image, &png_size, compression_level);
  if (!png) return boost::shared_ptr<void>();
  *size = png_size;
  return boost::shared_ptr<void>(png, gdDeleter());
}
