#include "media/ql_media_frame.h"

#include <algorithm>
#include <cstring>

namespace {

char const kMagic[4] = {'Q', 'L', 'M', 'F'};
std::uint8_t const kVersion = 1;

void Put32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t Get32(std::uint8_t const* in) {
  return (static_cast<std::uint32_t>(in[0]) << 24) | (static_cast<std::uint32_t>(in[1]) << 16) |
         (static_cast<std::uint32_t>(in[2]) << 8) | in[3];
}

bool Fail(std::string* error, char const* why) {
  *error = why;
  return false;
}

}  // namespace

std::vector<std::uint8_t> EncodeMediaAnswer(QLMediaAnswer const& answer) {
  std::vector<std::uint8_t> out(kQLMediaAnswerHeaderSize + answer.payload.size());
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  out[4] = kVersion;
  out[5] = static_cast<std::uint8_t>(answer.kind);
  out[6] = static_cast<std::uint8_t>(answer.orientation);
  out[7] = 0;
  Put32(&out[8], answer.width);
  Put32(&out[12], answer.height);
  Put32(&out[16], answer.original_width);
  Put32(&out[20], answer.original_height);
  Put32(&out[24], static_cast<std::uint32_t>(answer.payload.size()));
  std::copy(answer.payload.begin(), answer.payload.end(), out.begin() + kQLMediaAnswerHeaderSize);
  return out;
}

bool CheckMediaAnswerHeader(std::uint8_t const* header, QLMediaAnswerLimits const& limits,
                            std::uint32_t* payload_size, std::string* error) {
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || header[4] != kVersion) {
    return Fail(error, "not a decoder answer");
  }
  if (header[6] < 1 || header[6] > 8 || header[7] != 0) return Fail(error, "bad header field");
  std::uint32_t const width = Get32(header + 8);
  std::uint32_t const height = Get32(header + 12);
  std::uint32_t const original_width = Get32(header + 16);
  std::uint32_t const original_height = Get32(header + 20);
  std::uint32_t const size = Get32(header + 24);
  bool const unscaled = original_width == 0 && original_height == 0;
  switch (static_cast<QLMediaAnswerKind>(header[5])) {
    case QLMediaAnswerKind::kJpegPreview:
      if (width != 0 || height != 0 || !unscaled) return Fail(error, "bad header field");
      if (size == 0 || size > limits.max_jpeg_bytes) return Fail(error, "preview too large");
      break;
    case QLMediaAnswerKind::kRgbPixels:
      if (width == 0 || height == 0) return Fail(error, "empty frame");
      if (original_width < width || original_height < height) {
        return Fail(error, "bad header field");
      }
      if (static_cast<std::uint64_t>(width) * height > limits.max_pixels) {
        return Fail(error, "frame too large");
      }
      if (size != static_cast<std::uint64_t>(width) * height * 3) {
        return Fail(error, "frame size and pixel count disagree");
      }
      break;
    case QLMediaAnswerKind::kError:
    case QLMediaAnswerKind::kRefused:
      if (width != 0 || height != 0 || !unscaled) return Fail(error, "bad header field");
      if (size > limits.max_error_bytes) return Fail(error, "error text too long");
      break;
    default:
      return Fail(error, "unknown answer kind");
  }
  *payload_size = size;
  return true;
}

bool DecodeMediaAnswer(std::uint8_t const* bytes, std::size_t size,
                       QLMediaAnswerLimits const& limits, QLMediaAnswer* answer,
                       std::string* error) {
  if (size < kQLMediaAnswerHeaderSize) return Fail(error, "answer cut short");
  std::uint32_t payload_size = 0;
  if (!CheckMediaAnswerHeader(bytes, limits, &payload_size, error)) return false;
  if (size - kQLMediaAnswerHeaderSize != payload_size) {
    return Fail(error, size - kQLMediaAnswerHeaderSize < payload_size ? "answer cut short"
                                                                      : "bytes after the answer");
  }
  answer->kind = static_cast<QLMediaAnswerKind>(bytes[5]);
  answer->orientation = bytes[6];
  answer->width = Get32(bytes + 8);
  answer->height = Get32(bytes + 12);
  answer->original_width = Get32(bytes + 16);
  answer->original_height = Get32(bytes + 20);
  answer->payload.assign(bytes + kQLMediaAnswerHeaderSize, bytes + size);
  return true;
}
