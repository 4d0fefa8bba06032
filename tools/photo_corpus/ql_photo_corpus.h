// The list of photos the comparison run works on: sizes a phone or camera
// makes (2, 12 and 24 megapixels), baseline and progressive, plus a small
// warm-up photo, a 20-megapixel photo for the peak-memory check and
// 12-megapixel photos carrying a 160x120 EXIF preview, upright and turned.
//
// Plain data and pure functions; any thread may call them.
#ifndef QUORLIN_TOOLS_PHOTO_CORPUS_QL_PHOTO_CORPUS_H_
#define QUORLIN_TOOLS_PHOTO_CORPUS_QL_PHOTO_CORPUS_H_

#include <cstdint>
#include <string>
#include <vector>

enum QLCorpusRole {
  kCorpusMeasured,  // in the timed set
  kCorpusWarmUp,    // sent once before timing starts
  kCorpusMemory,    // the peak-memory photo
  kCorpusPreview,   // carries an EXIF preview (the embedded-preview rows)
};

struct QLCorpusPhoto {
  std::string name;  // file name, e.g. "p12mp_prog_1.jpg"
  int width = 0;
  int height = 0;
  bool progressive = false;
  std::uint32_t seed = 0;
  QLCorpusRole role = kCorpusMeasured;
  int orientation = 0;  // kCorpusPreview: the EXIF Orientation (1..8)
};

// The default corpus is small enough for a run of a few minutes on a
// two-core machine; `full` has four photos per size and kind.
std::vector<QLCorpusPhoto> CorpusPlan(bool full);

// One manifest line: "name width height progressive(0|1) role bytes".
std::string ManifestLine(QLCorpusPhoto const& photo, std::size_t bytes);

char const* RoleName(QLCorpusRole role);

#endif  // QUORLIN_TOOLS_PHOTO_CORPUS_QL_PHOTO_CORPUS_H_
