// quorlin_gd_media_decoder: decodes one camera RAW preview, one video
// frame or one HEIF or AVIF picture for the thumbnail daemon, in a process
// of its own so that a fault, a hang, a leak or a memory blow-up in LibRaw,
// FFmpeg, libheif, libavif or their codecs costs only this process. The
// command line, the "wait" mode and the exit status: ql_helper_main.h.
#include "media/ql_helper_main.h"
#include "media/ql_raw_preview.h"
#include "media/ql_still_image.h"
#include "media/ql_video_frame.h"

int main(int argc, char** argv) {
  QLHelperDecoders decoders;
  decoders.raw = ExtractRawPreview;
  decoders.video = ExtractVideoFrame;
  decoders.still = ExtractStillImage;
  decoders.usage =
      "usage: quorlin_gd_media_decoder raw MAX_SOURCE_PIXELS < FILE\n"
      "       quorlin_gd_media_decoder video|heif|avif MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT "
      "MAX_OUTPUT_PIXELS < FILE\n"
      "       quorlin_gd_media_decoder wait\n";
  return RunDecoderHelper(argc, argv, decoders);
}
