#include "thumbnail/decode/ql_cmyk_jpeg_decoder.h"

#include "log/ql_log.h"
#include "thumbnail/color/ql_color_transform_cache.h"
#include "thumbnail/decode/ql_jpeg_errors.h"
#include "thumbnail/ql_gd_deleters.h"

namespace {

// What the header pass finds.
struct Header {
  bool cmyk;      // CMYK or YCCK samples
  bool inverted;  // an Adobe marker was seen
  int width;
  int height;
};

void Prepare(jpeg_decompress_struct* cinfo, QLJpegErrors* errors, std::FILE* file) {
  UseJpegErrors(cinfo, errors);
  jpeg_create_decompress(cinfo);
  jpeg_stdio_src(cinfo, file);
}

bool ReadHeader(std::FILE* file, QLJpegErrors* errors, Header* out) {
  jpeg_decompress_struct cinfo;
  if (setjmp(errors->jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  Prepare(&cinfo, errors, file);
  jpeg_read_header(&cinfo, TRUE);
  out->cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  out->inverted = cinfo.saw_Adobe_marker != 0;
  out->width = static_cast<int>(cinfo.image_width);
  out->height = static_cast<int>(cinfo.image_height);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// The decode proper; `image` is volatile because it changes after setjmp
// and is read after the jump.
gdImagePtr DecodeRows(std::FILE* file, QLJpegErrors* errors, int denominator,
                      QLColorTransform const* transform) {
  jpeg_decompress_struct cinfo;
  gdImagePtr volatile image = nullptr;
  if (setjmp(errors->jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    if (image) gdImageDestroy(image);
    return nullptr;
  }
  Prepare(&cinfo, errors, file);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_CMYK;
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned int>(denominator);
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components == 4) {
    image = gdImageCreateTrueColor(static_cast<int>(cinfo.output_width),
                                   static_cast<int>(cinfo.output_height));
  }
  if (!image) {
    jpeg_destroy_decompress(&cinfo);
    return nullptr;
  }
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * 4, 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    int const y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) break;
    transform->ConvertCmykRow(row[0], image->tpixels[y], static_cast<int>(cinfo.output_width));
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return image;
}

bool Rewind(std::FILE* file) {
  std::clearerr(file);
  return std::fseek(file, 0, SEEK_SET) == 0;
}

}  // namespace

QLDecodedPicture DecodeCmykJpeg(std::FILE* file, std::string const& icc, std::string const& path,
                                int width, int height, bool full_screen, bool shrink_on_load) {
  QLDecodedPicture decoded;
  QLJpegErrors errors;
  Header header = {false, false, 0, 0};
  if (!file || !ReadHeader(file, &errors, &header) || !Rewind(file)) return decoded;
  std::string problem = "a CMYK profile in a JPEG whose samples are not CMYK";
  std::shared_ptr<QLColorTransform const> transform;
  if (header.cmyk) {
    transform = ProcessColorTransforms().Get(
        icc,
        header.inverted ? QLColorTransform::Input::kCmykInverted : QLColorTransform::Input::kCmyk,
        &problem);
  }
  if (!transform) {
    QL_WARN("Colour profile of \"" << path << "\" not used: " << problem
                                   << "; the thumbnail keeps the colours as stored.");
    return decoded;
  }
  int denominator = 1;
  if (shrink_on_load) {
    denominator = ChooseJpegScaleDenominator(
        ComputeThumbnailGeometry(header.width, header.height, width, height, full_screen));
  }
  gdImagePtr const image = DecodeRows(file, &errors, denominator, transform.get());
  if (!image) {
    QL_WARN("JPEG decoder: " << (errors.error[0] ? errors.error : "no CMYK picture") << " in \""
                             << path << "\"");
    Rewind(file);
    return decoded;
  }
  decoded.picture.reset(image, gdImgDestroyDeleter());
  decoded.original_width = header.width;
  decoded.original_height = header.height;
  decoded.denominator = denominator;
  return decoded;
}
