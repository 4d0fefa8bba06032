// The answer the media decoder helper (quorlin_gd_media_decoder) writes to
// its standard output, and the daemon's strict reading of it.
//
// One answer per run: a 28-byte header, then the payload.
//   0  "QLMF"                magic
//   4  1                     version
//   5  kind                  1 JPEG preview, 2 RGB pixels, 3 error text,
//                            4 refusal text (a sound file the daemon does not
//                            draw: locked, empty, too large at its size)
//   6  orientation           1..8, the EXIF numbering (1: upright)
//   7  0                     reserved
//   8  width, height         big-endian 32-bit; RGB: the pixel rows' size;
//                            JPEG and error: 0
//  16  original width,       big-endian 32-bit each; RGB: the frame's size as
//      original height       displayed, before it was scaled down (at least
//                            width x height); JPEG and error: 0
//  24  payload length        big-endian 32-bit
//  28  payload               JPEG bytes, width x height x 3 RGB bytes (rows
//                            top to bottom), or an error or refusal text
//
// The helper runs on untrusted files, so its answer is untrusted too: the
// reader checks every field against the limits it is given before it sizes
// anything, and refuses trailing or missing bytes.
//
// Contract: plain values and stateless functions; any thread may call them.
#ifndef QUORLIN_MEDIA_QL_MEDIA_FRAME_H_
#define QUORLIN_MEDIA_QL_MEDIA_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class QLMediaAnswerKind : std::uint8_t {
  kJpegPreview = 1,
  kRgbPixels = 2,
  kError = 3,
  kRefused = 4,  // like kError, but the file is not damaged: the daemon warns
};

struct QLMediaAnswer {
  QLMediaAnswerKind kind = QLMediaAnswerKind::kError;
  int orientation = 1;
  std::uint32_t width = 0;  // RGB only
  std::uint32_t height = 0;
  std::uint32_t original_width = 0;  // RGB only: the size before scaling
  std::uint32_t original_height = 0;
  std::vector<std::uint8_t> payload;  // JPEG bytes, RGB rows or error text
};

// What a reader accepts.
struct QLMediaAnswerLimits {
  std::uint32_t max_jpeg_bytes = 0;
  std::uint64_t max_pixels = 0;  // width x height of an RGB answer
  std::uint32_t max_error_bytes = 1024;
};

constexpr std::size_t kQLMediaAnswerHeaderSize = 28;

// The largest RAW preview an answer carries; a full-size preview of a
// 100-megapixel camera is about 30 MiB.
constexpr std::uint32_t kQLMaxRawPreviewBytes = 64u << 20;

// Header and payload of `answer`, ready to be written.
std::vector<std::uint8_t> EncodeMediaAnswer(QLMediaAnswer const& answer);

// The payload length an answer with this header announces, once the header
// passes the limits; false (with `*error` set) otherwise. `header` holds
// kQLMediaAnswerHeaderSize bytes. Lets a reader stop as soon as an answer
// would be too large.
bool CheckMediaAnswerHeader(std::uint8_t const* header, QLMediaAnswerLimits const& limits,
                            std::uint32_t* payload_size, std::string* error);

// Parses one complete answer (header and exactly its payload). False, with
// `*error` saying why, for anything else.
bool DecodeMediaAnswer(std::uint8_t const* bytes, std::size_t size,
                       QLMediaAnswerLimits const& limits, QLMediaAnswer* answer,
                       std::string* error);

#endif  // QUORLIN_MEDIA_QL_MEDIA_FRAME_H_
