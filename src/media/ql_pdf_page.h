// The first page of a PDF for the daemon, as RGB, drawn by poppler at the
// resolution the thumbnail needs: the page (its crop box, turned by its
// /Rotate) just covers the request's box, so a 160 x 120 thumbnail of an A4
// page renders about 160 x 226 pixels, not the 2480 x 3508 of 300 dpi.
// Drawn on white, anti-aliased.
//
// Runs inside the document decoder helper, never in the daemon: poppler
// parses hostile files with a large C++ code base (fonts, images, JBIG2,
// JPEG 2000 streams) and a page can take unbounded time to draw; the
// helper's time and memory limits and its sandbox
// (quorlin_gd_document_decoder_main.cc) hold that to one default picture.
//
// The document is loaded from memory (poppler is never handed a file name),
// and only the page is rendered: links, actions, forms and scripts are
// never run. What poppler still opens itself is fonts (by family name,
// through fontconfig) and its CMaps under /usr/share; the sandbox keeps it
// there.
//
// Refused, with the answer's kind kRefused (the daemon warns, not errs): a
// document that needs a password, one without pages, and a page whose
// raster at that resolution would exceed the source-pixel limit.
//
// Contract: any thread may call it, on a descriptor it alone reads; the file
// is read whole from offset 0 (at most kQLMaxPdfFileBytes). poppler's
// message function is replaced process-wide by one that drops messages.
#ifndef QUORLIN_MEDIA_QL_PDF_PAGE_H_
#define QUORLIN_MEDIA_QL_PDF_PAGE_H_

#include <cstdint>
#include <string>

#include "media/ql_frame_request.h"
#include "media/ql_media_frame.h"

// poppler takes the document's length as an int; a scanned manual of a few
// hundred pages is a few hundred MB. Larger files get the default picture.
constexpr std::uint64_t kQLMaxPdfFileBytes = 512ull << 20;

// False, with `*error` saying why (and answer->kind kRefused for the
// refusals above), when the page is not drawn.
bool ExtractPdfPage(int fd, QLFrameRequest const& request, QLMediaAnswer* answer,
                    std::string* error);

#endif  // QUORLIN_MEDIA_QL_PDF_PAGE_H_
