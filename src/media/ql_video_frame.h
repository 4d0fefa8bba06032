// One representative frame of a video, through libavformat, libavcodec and
// libswscale: the frame at 10% of the duration (the first frame when the
// duration is unknown or under a second), as RGB, scaled down no further
// than the thumbnail needs, with the stream's display rotation handed back
// as an EXIF orientation for the daemon to apply.
//
// Runs inside the media decoder helper, never in the daemon: the demuxers
// and decoders parse hostile containers and bit streams, and a fault there
// must cost only the helper. The file is read through the descriptor alone:
// no protocol is opened, and a demuxer that would open another file or URL
// (playlists, references) is refused.
//
// Contract: any thread may call it on a descriptor it alone reads; the only
// shared state touched is FFmpeg's global log level, set to quiet.
#ifndef QUORLIN_MEDIA_QL_VIDEO_FRAME_H_
#define QUORLIN_MEDIA_QL_VIDEO_FRAME_H_

#include <cstdint>
#include <string>

#include "media/ql_frame_request.h"
#include "media/ql_media_frame.h"

// Fills `answer` with RGB pixels. False, with `*error` saying why, when the
// file has no decodable video stream or breaks a limit.
bool ExtractVideoFrame(int fd, QLFrameRequest const& request, QLMediaAnswer* answer,
                       std::string* error);

// The display matrix's rotation (degrees counter-clockwise, as FFmpeg
// reports it) as the EXIF orientation that shows the frame upright: 1, 6, 3
// or 8. Angles are rounded to the nearest quarter turn.
int RotationToOrientation(double counter_clockwise_degrees);

#endif  // QUORLIN_MEDIA_QL_VIDEO_FRAME_H_
