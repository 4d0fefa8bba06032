// What the decoders inside the helper programs share: reading the file they
// were handed, and sampling the rows they decoded down to the answer.
//
// Contract: stateless; any thread, on a descriptor and buffers it alone
// uses. Nothing is allocated whose size was not checked first.
#ifndef QUORLIN_MEDIA_QL_DECODER_INPUT_H_
#define QUORLIN_MEDIA_QL_DECODER_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/ql_frame_request.h"
#include "media/ql_media_frame.h"

// The whole regular file behind `fd`, from offset 0 (the daemon's header
// probe has moved the shared offset), when it is not empty and holds at
// most `max_bytes`. False, with `*error` saying why, otherwise.
bool ReadWholeFile(int fd, std::uint64_t max_bytes, std::vector<std::uint8_t>* bytes,
                   std::string* error);

// True when a width x height picture is empty, has a side over 2^20 or more
// than `max_pixels` pixels.
bool PictureOverLimit(std::uint64_t width, std::uint64_t height, std::uint64_t max_pixels);

// Samples decoded rows (`channels` 3 or 4 bytes a pixel, RGB or RGBA, rows
// `stride` bytes apart) down to the size ChooseVideoOutputSize picks for the
// request (nearest pixel, as the daemon's own resize samples); alpha is
// blended over black, as the daemon's canvas blends it. Fills `answer` as
// upright RGB pixels of a width x height original.
bool SampleRowsToAnswer(std::uint8_t const* pixels, std::size_t stride, int channels,
                        std::uint32_t width, std::uint32_t height, QLFrameRequest const& request,
                        QLMediaAnswer* answer, std::string* error);

#endif  // QUORLIN_MEDIA_QL_DECODER_INPUT_H_
