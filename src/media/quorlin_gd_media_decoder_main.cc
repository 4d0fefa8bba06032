// quorlin_gd_media_decoder: decodes one camera RAW preview or one video
// frame for the thumbnail daemon, in a process of its own so that a fault,
// a hang or a memory blow-up in LibRaw or FFmpeg costs only this process.
//
//   quorlin_gd_media_decoder raw MAX_SOURCE_PIXELS < FILE
//   quorlin_gd_media_decoder video MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT MAX_OUTPUT_PIXELS < FILE
//
// The file is standard input (the daemon opens it and checks it is a
// regular file); the answer (ql_media_frame.h) goes to standard output.
// Exit status 0 with a picture, 1 with an error answer, 2 for a bad
// command line (nothing written). The daemon sets its resource limits.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/ql_parse_number.h"
#include "base/ql_write_all.h"
#include "media/ql_media_frame.h"
#include "media/ql_raw_preview.h"
#include "media/ql_video_frame.h"

namespace {

int Usage() {
  std::fputs(
      "usage: quorlin_gd_media_decoder raw MAX_SOURCE_PIXELS < FILE\n"
      "       quorlin_gd_media_decoder video MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT "
      "MAX_OUTPUT_PIXELS < FILE\n",
      stderr);
  return 2;
}

bool Number(char const* text, std::uint64_t high, std::uint64_t* value) {
  return ParseUnsigned(text, 1, high, value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::uint64_t max_source_pixels = 0;
  if (!Number(argv[2], UINT64_MAX, &max_source_pixels)) return Usage();
  QLMediaAnswer answer;
  std::string error;
  bool decoded = false;
  if (std::strcmp(argv[1], "raw") == 0 && argc == 3) {
    decoded = ExtractRawPreview(STDIN_FILENO, max_source_pixels, &answer, &error);
  } else if (std::strcmp(argv[1], "video") == 0 && argc == 6) {
    QLVideoFrameRequest request;
    request.max_source_pixels = max_source_pixels;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (!Number(argv[3], UINT32_MAX, &width) || !Number(argv[4], UINT32_MAX, &height) ||
        !Number(argv[5], UINT64_MAX, &request.max_output_pixels)) {
      return Usage();
    }
    request.box_width = static_cast<std::uint32_t>(width);
    request.box_height = static_cast<std::uint32_t>(height);
    decoded = ExtractVideoFrame(STDIN_FILENO, request, &answer, &error);
  } else {
    return Usage();
  }
  if (!decoded) {
    answer = QLMediaAnswer();
    answer.kind = QLMediaAnswerKind::kError;
    answer.payload.assign(error.begin(), error.begin() + std::min<std::size_t>(error.size(), 512));
  }
  std::vector<std::uint8_t> const bytes = EncodeMediaAnswer(answer);
  if (!WriteAll(STDOUT_FILENO, bytes.data(), bytes.size())) return 1;
  return decoded ? 0 : 1;
}
