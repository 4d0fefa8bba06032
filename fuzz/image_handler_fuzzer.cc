// Fuzz target for the handlers of the basic formats (fuzz/handler_fuzz.h):
// byte 0 % 6 picks jpg, png, gif, bmp, wbmp or mp3.
#include "handler_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::HandlerProvider(QLThumbnailOptions::Formats::kBasic);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  static char const* const kExtensions[] = {"jpg", "png", "gif", "bmp", "wbmp", "mp3"};
  qlfuzz::FuzzHandler(qlfuzz::HandlerProvider(QLThumbnailOptions::Formats::kBasic), kExtensions,
                      data, size);
  return 0;
}
