#include "media/ql_decoder_input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace {

bool Fail(std::string* error, char const* why) {
  *error = why;
  return false;
}

}  // namespace

bool ReadWholeFile(int fd, std::uint64_t max_bytes, std::vector<std::uint8_t>* bytes,
                   std::string* error) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return Fail(error, "not a regular file");
  if (info.st_size <= 0) return Fail(error, "empty file");
  if (static_cast<std::uint64_t>(info.st_size) > max_bytes) return Fail(error, "file too large");
  try {
    bytes->resize(static_cast<std::size_t>(info.st_size));
  } catch (std::bad_alloc const&) {
    return Fail(error, "out of memory");
  }
  std::size_t have = 0;
  while (have < bytes->size()) {
    ssize_t const got =
        pread(fd, bytes->data() + have, bytes->size() - have, static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Fail(error, "cannot read the file");
    have += static_cast<std::size_t>(got);
  }
  return true;
}

bool PictureOverLimit(std::uint64_t width, std::uint64_t height, std::uint64_t max_pixels) {
  return width == 0 || height == 0 || width > (1u << 20) || height > (1u << 20) ||
         width * height > max_pixels;
}

bool SampleRowsToAnswer(std::uint8_t const* pixels, std::size_t stride, int channels,
                        std::uint32_t width, std::uint32_t height, QLFrameRequest const& request,
                        QLMediaAnswer* answer, std::string* error) {
  std::uint32_t out_width = 0;
  std::uint32_t out_height = 0;
  ChooseVideoOutputSize(width, height, request, &out_width, &out_height);
  try {
    answer->payload.resize(static_cast<std::size_t>(out_width) * out_height * 3);
  } catch (std::bad_alloc const&) {
    return Fail(error, "out of memory");
  }
  std::uint8_t* out = answer->payload.data();
  for (std::uint32_t y = 0; y < out_height; ++y) {
    std::uint8_t const* row =
        pixels + stride * static_cast<std::size_t>(
                              (static_cast<std::uint64_t>(y) * height + height / 2) / out_height);
    for (std::uint32_t x = 0; x < out_width; ++x, out += 3) {
      std::size_t const column =
          static_cast<std::size_t>((static_cast<std::uint64_t>(x) * width + width / 2) / out_width);
      std::uint8_t const* p = row + column * static_cast<std::size_t>(channels);
      unsigned const alpha = channels == 4 ? p[3] : 255;
      for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((p[c] * alpha + 127) / 255);
    }
  }
  answer->kind = QLMediaAnswerKind::kRgbPixels;
  answer->orientation = 1;
  answer->width = out_width;
  answer->height = out_height;
  answer->original_width = width;
  answer->original_height = height;
  return true;
}
