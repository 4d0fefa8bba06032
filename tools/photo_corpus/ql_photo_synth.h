// Photo-like test pictures drawn with libgd, and their JPEG encoding.
//
// The pictures are meant to cost a decoder what a camera photo costs: smooth
// colour gradients (sky, light falloff), a few objects with hard edges,
// mid-frequency texture (foliage, fabric) and per-pixel sensor grain, so the
// entropy-coded data is as dense as a real photo's at the same quality.
// Everything is derived from the seed: the same description always gives the same
// pixels. Stateless free functions; any thread may call them. Pictures are
// returned as owners (ScopedPhoto); encoded bytes are plain vectors.
#ifndef QUORLIN_TOOLS_PHOTO_CORPUS_QL_PHOTO_SYNTH_H_
#define QUORLIN_TOOLS_PHOTO_CORPUS_QL_PHOTO_SYNTH_H_

#include <gd.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "thumbnail/ql_gd_deleters.h"

typedef std::unique_ptr<gdImageStruct, gdImgDestroyDeleter> ScopedPhoto;

struct QLPhotoSpec {
  int width = 0;
  int height = 0;
  std::uint32_t seed = 1;
};

// Width and height are capped so a typo cannot ask for gigabytes.
const int kMaxPhotoSide = 16384;
const std::uint64_t kMaxPhotoPixels = 64ull * 1000ull * 1000ull;

// A true-colour picture for `photo_spec`, or null for sizes outside
// 1..kMaxPhotoSide / kMaxPhotoPixels or when libgd cannot allocate it.
ScopedPhoto DrawPhoto(QLPhotoSpec const& photo_spec);

// JPEG bytes of `photo` at `quality` (1..100); progressive when asked
// (libgd writes a progressive JPEG for an interlaced picture). The picture's
// interlace flag is restored afterwards. Empty on failure.
std::vector<unsigned char> EncodeJpeg(gdImagePtr photo, int quality, bool progressive);

#endif  // QUORLIN_TOOLS_PHOTO_CORPUS_QL_PHOTO_SYNTH_H_
