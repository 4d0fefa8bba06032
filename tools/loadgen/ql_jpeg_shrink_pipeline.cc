#include "ql_jpeg_shrink_pipeline.h"

#include <stdio.h>
// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include <memory>

#include "base/ql_c_resource.h"
#include "thumbnail/ql_gd_deleters.h"

namespace {

// No photo of a comparison run comes near this; a header claiming more is
// refused before any picture is allocated.
const unsigned long long kMaxPixels = 200ull * 1000 * 1000;

// The decompressor and its error manager, destroyed together.
struct Decompressor {
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  Decompressor() {
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
  }
  ~Decompressor() { jpeg_destroy_decompress(&info); }
};

}  // namespace

int ShrinkDenominator(int source_width, int source_height, QLPipelineRequest const& request) {
  QLPipelineGeometry g;
  if (!PipelineGeometry(source_width, source_height, request, &g)) return 1;
  for (int denominator : {8, 4, 2}) {
    if (g.source_width >= g.width * denominator && g.source_height >= g.height * denominator) {
      return denominator;
    }
  }
  return 1;
}

std::vector<unsigned char> ShrinkPipelineThumbnail(std::string const& path,
                                                   QLPipelineRequest const& request) {
  QLUniqueFile file(fopen(path.c_str(), "rb"));
  if (!file) return std::vector<unsigned char>();
  Decompressor jpeg;
  jpeg_stdio_src(&jpeg.info, file.get());
  jpeg_read_header(&jpeg.info, TRUE);
  if (static_cast<unsigned long long>(jpeg.info.image_width) * jpeg.info.image_height >
      kMaxPixels) {
    return std::vector<unsigned char>();
  }
  jpeg.info.scale_num = 1;
  jpeg.info.scale_denom = static_cast<unsigned int>(ShrinkDenominator(
      static_cast<int>(jpeg.info.image_width), static_cast<int>(jpeg.info.image_height), request));
  jpeg.info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&jpeg.info);
  int const width = static_cast<int>(jpeg.info.output_width);
  std::unique_ptr<gdImageStruct, gdImgDestroyDeleter> photo(
      gdImageCreateTrueColor(width, static_cast<int>(jpeg.info.output_height)));
  if (!photo) return std::vector<unsigned char>();
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
  JSAMPROW rows[1] = {row.data()};
  while (jpeg.info.output_scanline < jpeg.info.output_height) {
    int* pixels = photo->tpixels[jpeg.info.output_scanline];
    jpeg_read_scanlines(&jpeg.info, rows, 1);
    JSAMPLE const* in = row.data();
    for (int x = 0; x < width; ++x, in += 3) pixels[x] = gdTrueColor(in[0], in[1], in[2]);
  }
  jpeg_finish_decompress(&jpeg.info);
  return PipelineScaleAndEncode(photo.get(), request);
}
