#include "thumbnail/decode/ql_jpeg_errors.h"

namespace {

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  QLJpegErrors* errors = reinterpret_cast<QLJpegErrors*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->error);
  std::longjmp(errors->jump, 1);
}

extern "C" void JpegOutputMessage(j_common_ptr cinfo) {
  QLJpegErrors* errors = reinterpret_cast<QLJpegErrors*>(cinfo->err);
  if (errors->warning[0] == '\0') (*cinfo->err->format_message)(cinfo, errors->warning);
}

}  // namespace

void UseJpegErrors(jpeg_decompress_struct* cinfo, QLJpegErrors* errors) {
  cinfo->err = jpeg_std_error(&errors->pub);
  errors->pub.error_exit = JpegErrorExit;
  errors->pub.output_message = JpegOutputMessage;
  errors->error[0] = '\0';
  errors->warning[0] = '\0';
}
