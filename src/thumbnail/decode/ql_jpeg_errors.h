// libjpeg's error manager for the daemon's JPEG decoders. libjpeg reports a
// fatal error by calling a function that must not return, and prints
// warnings to stderr by default; here a fatal error keeps its text and jumps
// back to the decode's setjmp, and the first warning is kept for the log.
//
// Contract: one per decode, used on the decoding thread only. Between its
// setjmp and the last libjpeg call the decode's frame must hold only plain
// C data, so the jump skips no destructor.
#ifndef QUORLIN_THUMBNAIL_DECODE_QL_JPEG_ERRORS_H_
#define QUORLIN_THUMBNAIL_DECODE_QL_JPEG_ERRORS_H_

// jpeglib.h needs FILE and size_t declared before it.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include <csetjmp>

struct QLJpegErrors {
  jpeg_error_mgr pub;  // first, so libjpeg's pointer to it is one to this
  std::jmp_buf jump;
  char error[JMSG_LENGTH_MAX];
  char warning[JMSG_LENGTH_MAX];
};

// Makes `errors` the error manager of `cinfo`, both texts empty; call before
// jpeg_create_decompress.
void UseJpegErrors(jpeg_decompress_struct* cinfo, QLJpegErrors* errors);

#endif  // QUORLIN_THUMBNAIL_DECODE_QL_JPEG_ERRORS_H_
