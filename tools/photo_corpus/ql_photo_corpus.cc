#include "ql_photo_corpus.h"

#include <sstream>

namespace {

struct SizeClass {
  char const* label;
  int width;
  int height;
};

// Common sensor sizes: 2 MP (4:3), 12 MP (4:3 phone), 24 MP (3:2 camera).
const SizeClass kSizes[] = {
    {"p02mp", 1632, 1224},
    {"p12mp", 4000, 3000},
    {"p24mp", 6000, 4000},
};

}  // namespace

std::vector<QLCorpusPhoto> CorpusPlan(bool full) {
  std::vector<QLCorpusPhoto> plan;
  std::uint32_t seed = 1;
  QLCorpusPhoto warm;
  warm.name = "warmup.jpg";
  warm.width = 640;
  warm.height = 480;
  warm.seed = seed++;
  warm.role = kCorpusWarmUp;
  plan.push_back(warm);

  for (SizeClass const& size : kSizes) {
    // Small photos are cheap; more of them steadies the per-photo figure.
    int const per_kind = full ? 4 : (size.width < 2000 ? 2 : 1);
    for (int progressive = 0; progressive < 2; ++progressive) {
      for (int i = 1; i <= per_kind; ++i) {
        QLCorpusPhoto photo;
        photo.name = std::string(size.label) + (progressive ? "_prog_" : "_base_") +
                     std::to_string(i) + ".jpg";
        photo.width = size.width;
        photo.height = size.height;
        photo.progressive = progressive != 0;
        photo.seed = seed++;
        plan.push_back(photo);
      }
    }
  }

  QLCorpusPhoto memory;
  memory.name = "mem_20mp.jpg";  // 5472 x 3648, a common 20 MP sensor
  memory.width = 5472;
  memory.height = 3648;
  memory.seed = seed++;
  memory.role = kCorpusMemory;
  plan.push_back(memory);

  // Orientation 3 (turned half round) keeps the preview's shape, so it
  // still serves a 160x120 thumbnail, turned like the photo.
  for (int orientation : {1, 3}) {
    QLCorpusPhoto preview;
    preview.name = "pv12mp_o" + std::to_string(orientation) + ".jpg";
    preview.width = 4000;
    preview.height = 3000;
    preview.seed = seed++;
    preview.role = kCorpusPreview;
    preview.orientation = orientation;
    plan.push_back(preview);
  }
  return plan;
}

char const* RoleName(QLCorpusRole role) {
  switch (role) {
    case kCorpusWarmUp:
      return "warmup";
    case kCorpusMemory:
      return "memory";
    case kCorpusPreview:
      return "preview";
    default:
      return "measured";
  }
}

std::string ManifestLine(QLCorpusPhoto const& photo, std::size_t bytes) {
  std::ostringstream line;
  line << photo.name << ' ' << photo.width << ' ' << photo.height << ' '
       << (photo.progressive ? 1 : 0) << ' ' << RoleName(photo.role) << ' ' << bytes;
  return line.str();
}
