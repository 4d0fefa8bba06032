// What the daemon asks of a helper that hands back RGB pixels (a video
// frame, a HEIF or AVIF picture): the source-pixel limit, the box the
// thumbnail must still cover, and the most pixels the answer may hold.
//
// Contract: plain values and a pure function; any thread.
#ifndef QUORLIN_MEDIA_QL_FRAME_REQUEST_H_
#define QUORLIN_MEDIA_QL_FRAME_REQUEST_H_

#include <cstdint>

struct QLFrameRequest {
  // Streams whose declared (and decoded) width x height exceeds this are
  // refused before a decoder is opened.
  std::uint64_t max_source_pixels = 0;
  // The frame is scaled down only as far as it still covers this box (the
  // daemon fits the thumbnail to the frame as stored, then turns it).
  std::uint32_t box_width = 0;
  std::uint32_t box_height = 0;
  // The answer never holds more pixels than this.
  std::uint64_t max_output_pixels = 0;
};

// The size the frame is scaled to: as small as possible while still
// covering the request's box, never larger than the source, at most
// request.max_output_pixels.
void ChooseVideoOutputSize(std::uint32_t source_width, std::uint32_t source_height,
                           QLFrameRequest const& request, std::uint32_t* width,
                           std::uint32_t* height);

#endif  // QUORLIN_MEDIA_QL_FRAME_REQUEST_H_
