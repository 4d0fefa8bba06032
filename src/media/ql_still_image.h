// HEIF (libheif with libde265, and libdav1d for AV1 items), AVIF (libavif
// with libdav1d) and JPEG XL (libjxl) pictures for the daemon, as RGB: the stored
// picture, without its rotation and mirroring, sampled down (nearest pixel,
// as the daemon's own resize samples) no further than the thumbnail needs,
// transparent pixels blended over black as the daemon's canvas blends them.
//
// Runs inside the media decoder helper, never in the daemon: these decoders
// parse hostile bit streams, libavif aborts the process when an allocation
// fails, and libdav1d 1.0.0 loses memory on some damaged streams; all of
// that must cost only the helper. HEIF, AVIF: the daemon has already
// checked the size the file's header declares and read its irot/imir (its
// header probe); it turns the thumbnail itself, so the answer's orientation
// is 1. JPEG XL: the daemon reads nothing of the file; the size in the
// codestream's header is checked here before any pixel buffer is made, and
// the answer's orientation is the file's, for the daemon to apply.
// libjxl runs here rather than in the daemon because a few kilobytes can
// ask it for seconds of work and hundreds of MB (a 7 KB file of one
// colour declaring 7000 x 7000 pixels, under the source limit: 5.3 s and
// 285 MB resident on one core), which the helper's limits bound.
//
// Contract: any thread may call it on a descriptor it alone reads; the file
// is read whole from offset 0 (at most kQLMaxStillFileBytes) and no other
// file is opened.
#ifndef QUORLIN_MEDIA_QL_STILL_IMAGE_H_
#define QUORLIN_MEDIA_QL_STILL_IMAGE_H_

#include <cstdint>
#include <string>

#include "media/ql_frame_request.h"
#include "media/ql_media_frame.h"

// Larger files are not read: a HEIF or AVIF of the largest picture the
// source limit admits is a few tens of MB at most.
constexpr std::uint64_t kQLMaxStillFileBytes = 256ull << 20;

enum class QLStillFormat { kHeif, kAvif, kJxl };

// The limits and the box are those of a video frame (ql_video_frame.h).
// Fills `answer` with RGB pixels; false, with `*error` saying why, when the
// file does not decode or breaks a limit.
bool ExtractStillImage(int fd, QLStillFormat format, QLFrameRequest const& request,
                       QLMediaAnswer* answer, std::string* error);

#endif  // QUORLIN_MEDIA_QL_STILL_IMAGE_H_
