#include "support/ql_video_sample.h"

#include <cstdlib>

namespace qltest {
namespace {

bool Run(std::string const& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

bool HaveFfmpeg() { return Run("ffmpeg -version"); }

std::string MakeMarkedVideo(std::string const& folder, double seconds, int rotate) {
  std::string const plain = folder + "/plain.mp4";
  std::string const turned = folder + "/video.mp4";
  if (!Run("ffmpeg -v error -y -f lavfi -i \"color=c=red:size=320x240:rate=25:d=" +
           std::to_string(seconds) +
           ",drawbox=w=iw:h=ih:c=lime:t=fill:enable='gte(t,0.2)',"
           "drawbox=w=80:h=60:c=blue:t=fill\" -c:v mpeg4 -q:v 2 '" +
           plain + "'")) {
    return "";
  }
  if (rotate == 0) return plain;
  return Run("ffmpeg -v error -y -i '" + plain +
             "' -c copy -metadata:s:v:0 rotate=" + std::to_string(rotate) + " '" + turned + "'")
             ? turned
             : "";
}

}  // namespace qltest
