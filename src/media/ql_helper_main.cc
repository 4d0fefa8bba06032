#include "media/ql_helper_main.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/ql_parse_number.h"
#include "base/ql_write_all.h"

namespace {

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

int RunDecoderHelper(int argc, char** argv, QLHelperDecoders const& decoders) {
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
  auto const usage = [&decoders] {
    std::fputs(decoders.usage, stderr);
    return 2;
  };
  if (argc < 3) return usage();
  std::uint64_t max_source_pixels = 0;
  if (!Number(argv[2], UINT64_MAX, &max_source_pixels)) return usage();
  QLMediaAnswer answer;
  std::string error;
  bool decoded = false;
  if (std::strcmp(argv[1], "raw") == 0 && argc == 3 && decoders.raw) {
    decoded = decoders.raw(STDIN_FILENO, max_source_pixels, &answer, &error);
  } else if (argc == 6) {
    bool const video = std::strcmp(argv[1], "video") == 0;
    bool const pdf = std::strcmp(argv[1], "pdf") == 0;
    bool const heif = std::strcmp(argv[1], "heif") == 0;
    bool const avif = std::strcmp(argv[1], "avif") == 0;
    bool const jxl = std::strcmp(argv[1], "jxl") == 0;
    if (!(video && decoders.video) && !(pdf && decoders.document) &&
        !((heif || avif || jxl) && decoders.still)) {
      return usage();
    }
    QLFrameRequest request;
    request.max_source_pixels = max_source_pixels;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (!Number(argv[3], UINT32_MAX, &width) || !Number(argv[4], UINT32_MAX, &height) ||
        !Number(argv[5], UINT64_MAX, &request.max_output_pixels)) {
      return usage();
    }
    request.box_width = static_cast<std::uint32_t>(width);
    request.box_height = static_cast<std::uint32_t>(height);
    QLStillFormat const format = heif   ? QLStillFormat::kHeif
                                 : avif ? QLStillFormat::kAvif
                                        : QLStillFormat::kJxl;
    decoded = video ? decoders.video(STDIN_FILENO, request, &answer, &error)
              : pdf ? decoders.document(STDIN_FILENO, request, &answer, &error)
                    : decoders.still(STDIN_FILENO, format, request, &answer, &error);
  } else {
    return usage();
  }
  if (!decoded) {
    QLMediaAnswerKind const kind = answer.kind == QLMediaAnswerKind::kRefused
                                       ? QLMediaAnswerKind::kRefused
                                       : QLMediaAnswerKind::kError;
    answer = QLMediaAnswer();
    answer.kind = kind;
    answer.payload.assign(error.begin(), error.begin() + std::min<std::size_t>(error.size(), 512));
  }
  std::vector<std::uint8_t> const bytes = EncodeMediaAnswer(answer);
  if (!WriteAll(STDOUT_FILENO, bytes.data(), bytes.size())) return 1;
  return decoded ? 0 : 1;
}
