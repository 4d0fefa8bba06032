// Fuzz target for the decoders of `--formats extended` (fuzz/handler_fuzz.h):
// byte 0 % 2 picks webp or tif, whose handlers run the header probe, libgd's
// decoder and the turn. HEIF and AVIF are decoded in the media decoder
// helper (fuzz/media_decoder_fuzzer.cc). Seeds: scripts/make_format_seeds.sh.
#include "handler_fuzz.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlfuzz::HandlerProvider(QLThumbnailOptions::Formats::kExtended);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  static char const* const kExtensions[] = {"webp", "tif"};
  qlfuzz::FuzzHandler(qlfuzz::HandlerProvider(QLThumbnailOptions::Formats::kExtended), kExtensions,
                      data, size);
  return 0;
}
