// quorlin_gd_document_decoder: draws the first page of one PDF for the
// thumbnail daemon, in a process of its own so that a fault, a hang, a leak
// or a memory blow-up in poppler costs only this process. A program apart
// from the other helpers: it links poppler alone (no LibRaw, FFmpeg or
// image codecs), so it starts as fast as the still-picture helper, and it
// runs in a sandbox no other format needs (ql_helper_sandbox.h): a PDF
// names fonts, CMaps and external files, and poppler looks some of them up
// itself. The command line, the "wait" mode and the exit status:
// ql_helper_main.h.
#include <cstdio>
#include <string>

#include "media/ql_helper_main.h"
#include "media/ql_helper_sandbox.h"
#include "media/ql_pdf_page.h"

int main(int argc, char** argv) {
  std::string error;
  if (!EnterDocumentSandbox(&error)) {
    std::fprintf(stderr, "quorlin_gd_document_decoder: no sandbox: %s\n", error.c_str());
    return 1;
  }
  QLHelperDecoders decoders;
  decoders.document = ExtractPdfPage;
  decoders.usage =
      "usage: quorlin_gd_document_decoder pdf MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT "
      "MAX_OUTPUT_PIXELS < FILE\n"
      "       quorlin_gd_document_decoder wait\n";
  return RunDecoderHelper(argc, argv, decoders);
}
