// quorlin_gd_media_decoder: decodes one camera RAW preview, one video
// frame, the first page of a PDF or one HEIF, AVIF or JPEG XL picture for
// the thumbnail daemon, in a process of its own so that a fault, a hang, a
// leak or a memory blow-up in LibRaw, FFmpeg, poppler, libheif, libavif,
// libjxl or their codecs costs only this process. It is the one program
// --media-decoder can name for every format; by default PDFs go to
// quorlin_gd_document_decoder and its sandbox. The command line, the "wait"
// mode and the exit status: ql_helper_main.h.
#include "media/ql_helper_main.h"
#include "media/ql_pdf_page.h"
#include "media/ql_raw_preview.h"
#include "media/ql_still_image.h"
#include "media/ql_video_frame.h"

int main(int argc, char** argv) {
  QLHelperDecoders decoders;
  decoders.raw = ExtractRawPreview;
  decoders.video = ExtractVideoFrame;
  decoders.still = ExtractStillImage;
  decoders.document = ExtractPdfPage;
  decoders.usage =
      "usage: quorlin_gd_media_decoder raw MAX_SOURCE_PIXELS < FILE\n"
      "       quorlin_gd_media_decoder video|pdf|heif|avif|jxl MAX_SOURCE_PIXELS BOX_WIDTH "
      "BOX_HEIGHT "
      "MAX_OUTPUT_PIXELS < FILE\n"
      "       quorlin_gd_media_decoder wait\n";
  return RunDecoderHelper(argc, argv, decoders);
}
