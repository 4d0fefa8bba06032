// quorlin_gd_media_decoder: decodes one camera RAW preview, one video
// frame or one HEIF or AVIF picture for the thumbnail daemon, in a process
// of its own so that a fault, a hang, a leak or a memory blow-up in LibRaw,
// FFmpeg, libheif, libavif or their codecs costs only this process.
//
//   quorlin_gd_media_decoder raw MAX_SOURCE_PIXELS < FILE
//   quorlin_gd_media_decoder video|heif|avif MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT
//       MAX_OUTPUT_PIXELS < FILE
//
// The file is standard input (the daemon opens it and checks it is a
// regular file); the answer (ql_media_frame.h) goes to standard output.
//
//   quorlin_gd_media_decoder wait
//
// is started ahead of its file: standard input is then a socket, and the
// one message read from it holds the arguments above (NUL-separated) with
// the file's descriptor attached; the message's end or a malformed one ends
// the program with status 2.
// Exit status 0 with a picture, 1 with an error answer, 2 for a bad
// command line (nothing written). The daemon sets its resource limits.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/ql_parse_number.h"
#include "base/ql_write_all.h"
#include "media/ql_media_frame.h"
#include "media/ql_raw_preview.h"
#include "media/ql_still_image.h"
#include "media/ql_video_frame.h"

namespace {

int Usage() {
  std::fputs(
      "usage: quorlin_gd_media_decoder raw MAX_SOURCE_PIXELS < FILE\n"
      "       quorlin_gd_media_decoder video|heif|avif MAX_SOURCE_PIXELS BOX_WIDTH BOX_HEIGHT "
      "MAX_OUTPUT_PIXELS < FILE\n",
      stderr);
  return 2;
}

bool Number(char const* text, std::uint64_t high, std::uint64_t* value) {
  return ParseUnsigned(text, 1, high, value);
}

// The job of a helper started ahead: its words in `*words`, its file made
// standard input. False when the daemon went away or sent no valid job.
bool ReceiveJob(std::vector<std::string>* words) {
  char text[1024];
  union {
    char buffer[CMSG_SPACE(sizeof(int))];
    struct cmsghdr align;
  } control;
  struct iovec part = {text, sizeof text};
  struct msghdr message = {};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control.buffer;
  message.msg_controllen = sizeof control.buffer;
  ssize_t got;
  do {
    got = recvmsg(STDIN_FILENO, &message, MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  struct cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (got <= 0 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) || !header ||
      header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len != CMSG_LEN(sizeof(int))) {
    return false;
  }
  int file = -1;
  std::memcpy(&file, CMSG_DATA(header), sizeof file);
  bool const placed = dup2(file, STDIN_FILENO) == STDIN_FILENO;
  close(file);
  if (!placed || text[got - 1] != '\0') return false;
  for (char const* word = text; word < text + got; word += std::strlen(word) + 1) {
    words->push_back(word);
  }
  return words->size() <= 6;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> job;
  std::vector<char*> job_argv;
  if (argc == 2 && std::strcmp(argv[1], "wait") == 0) {
    job.push_back(argv[0]);
    if (!ReceiveJob(&job)) return 2;
    for (std::string& word : job) job_argv.push_back(&word[0]);
    job_argv.push_back(nullptr);
    argc = static_cast<int>(job.size());
    argv = job_argv.data();
  }
  if (argc < 3) return Usage();
  std::uint64_t max_source_pixels = 0;
  if (!Number(argv[2], UINT64_MAX, &max_source_pixels)) return Usage();
  QLMediaAnswer answer;
  std::string error;
  bool decoded = false;
  if (std::strcmp(argv[1], "raw") == 0 && argc == 3) {
    decoded = ExtractRawPreview(STDIN_FILENO, max_source_pixels, &answer, &error);
  } else if (argc == 6) {
    bool const video = std::strcmp(argv[1], "video") == 0;
    bool const heif = std::strcmp(argv[1], "heif") == 0;
    if (!video && !heif && std::strcmp(argv[1], "avif") != 0) return Usage();
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
    if (video) {
      decoded = ExtractVideoFrame(STDIN_FILENO, request, &answer, &error);
    } else {
      decoded = ExtractStillImage(STDIN_FILENO, heif ? QLStillFormat::kHeif : QLStillFormat::kAvif,
                                  request, &answer, &error);
    }
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
