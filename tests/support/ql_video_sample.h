// Videos for tests and fuzz seeds, made by ffmpeg at run time (Debian's
// ffmpeg package; callers skip when it is missing). Any thread may call
// these; each writes only the files it names.
#ifndef QUORLIN_TESTS_SUPPORT_QL_VIDEO_SAMPLE_H_
#define QUORLIN_TESTS_SUPPORT_QL_VIDEO_SAMPLE_H_

#include <string>

namespace qltest {

// Whether an ffmpeg program can be run.
bool HaveFfmpeg();

// A 320x240 MPEG-4 video in `folder` lasting `seconds`: red until 0.2 s,
// green after, with a blue 80x60 block in the top-left corner. A non-zero
// `rotate` (90, 180, 270) is stored as the stream's display rotation, the
// way ffmpeg writes a "rotate" tag. The file's path, or "" when ffmpeg
// failed.
std::string MakeMarkedVideo(std::string const& folder, double seconds, int rotate);

}  // namespace qltest

#endif  // QUORLIN_TESTS_SUPPORT_QL_VIDEO_SAMPLE_H_
