// quorlin_gd_still_decoder: decodes one HEIF, AVIF or JPEG XL picture for
// the thumbnail daemon, in a process of its own so that a fault, a leak or
// a memory blow-up in libheif, libavif, libjxl or their codecs costs only
// this process. It links neither LibRaw nor FFmpeg: a third of the libraries of
// quorlin_gd_media_decoder, and a start a few times cheaper, which a photo
// that decodes in a tenth of a second notices. The command line, the "wait"
// mode and the exit status: ql_helper_main.h.
#include "media/ql_helper_main.h"
#include "media/ql_still_image.h"

int main(int argc, char** argv) {
  QLHelperDecoders decoders;
  decoders.still = ExtractStillImage;
  decoders.usage =
      "usage: quorlin_gd_still_decoder heif|avif|jxl MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT "
      "MAX_OUTPUT_PIXELS < FILE\n"
      "       quorlin_gd_still_decoder wait\n";
  return RunDecoderHelper(argc, argv, decoders);
}
