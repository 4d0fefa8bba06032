// The command line, the "wait" mode and the answer of a decoder helper
// program, shared by the three helpers: quorlin_gd_media_decoder (camera
// RAW, video, PDF, HEIF, AVIF, JPEG XL), quorlin_gd_still_decoder (HEIF,
// AVIF and JPEG XL only, without LibRaw and FFmpeg, so that it starts in a
// fraction of the time) and quorlin_gd_document_decoder (PDF only, in a
// sandbox of its own). Each program's main hands in the decoders it links;
// a mode whose decoder is null is a bad command line.
//
//   PROGRAM raw MAX_SOURCE_PIXELS < FILE
//   PROGRAM video|pdf|heif|avif|jxl MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT
//       MAX_OUTPUT_PIXELS < FILE
//
// The file is standard input (the daemon opens it and checks it is a
// regular file); the answer (ql_media_frame.h) goes to standard output.
//
//   PROGRAM wait
//
// is started ahead of its file: standard input is then a socket, and the
// one message read from it holds the arguments above (NUL-separated) with
// the file's descriptor attached; the message's end or a malformed one ends
// the program with status 2.
//
// Contract: called once, from main, on the program's only thread.
#ifndef QUORLIN_MEDIA_QL_HELPER_MAIN_H_
#define QUORLIN_MEDIA_QL_HELPER_MAIN_H_

#include <cstdint>
#include <string>

#include "media/ql_frame_request.h"
#include "media/ql_media_frame.h"
#include "media/ql_still_image.h"

struct QLHelperDecoders {
  bool (*raw)(int fd, std::uint64_t max_source_pixels, QLMediaAnswer* answer,
              std::string* error) = nullptr;
  bool (*video)(int fd, QLFrameRequest const& request, QLMediaAnswer* answer,
                std::string* error) = nullptr;
  bool (*still)(int fd, QLStillFormat format, QLFrameRequest const& request, QLMediaAnswer* answer,
                std::string* error) = nullptr;
  // A failure that leaves answer->kind kRefused is written as a refusal.
  bool (*document)(int fd, QLFrameRequest const& request, QLMediaAnswer* answer,
                   std::string* error) = nullptr;
  char const* usage = "";  // printed to standard error on a bad command line
};

// Runs the helper: exit status 0 with a picture, 1 with an error answer
// (or when the answer cannot be written), 2 for a bad command line
// (nothing written). The daemon sets the resource limits.
int RunDecoderHelper(int argc, char** argv, QLHelperDecoders const& decoders);

#endif  // QUORLIN_MEDIA_QL_HELPER_MAIN_H_
