// Tunables of the thumbnail service that the command line can change.
//
// The defaults keep the service's long-standing behaviour (full-size decode,
// libgd's PNG settings, one provider lock). The limits bound what one request
// or one uploaded file can make the daemon allocate. A provider copies its
// options at construction or through SetOptions() before it serves; they are
// read-only while requests run.
#ifndef QUORLIN_THUMBNAIL_QL_THUMBNAIL_OPTIONS_H_
#define QUORLIN_THUMBNAIL_QL_THUMBNAIL_OPTIONS_H_

#include <cstdint>

struct QLThumbnailOptions {
  // Source pictures above this many pixels (width x height read from the file
  // header before decoding) get their type's fallback picture. 50 MP is about
  // 200 MB as a true-colour canvas; photos from current phones and cameras
  // stay well below it.
  static const std::uint64_t kDefaultMaxSourcePixels = 50000000ull;
  // Thumbnail canvases above this many pixels are refused (one-byte failure
  // reply). 4096 x 4096 is larger than any screen the device serves.
  static const std::uint64_t kDefaultMaxThumbnailPixels = 4096ull * 4096ull;

  std::uint64_t max_source_pixels = kDefaultMaxSourcePixels;
  std::uint64_t max_thumbnail_pixels = kDefaultMaxThumbnailPixels;

  // Fast paths, all off by default.
  bool jpeg_shrink_on_load = false;  // DCT-scaled JPEG decoding (1/2, 1/4, 1/8)
  int png_compression_level = -1;    // -1: libgd's default; 0..9: zlib level
  int png_filters = -1;              // -1: libgd's default; else a PNG_FILTER_* mask
  unsigned int jobs = 0;             // 0: one provider lock; N >= 1: N parallel jobs
};

// The options GetProcessHelper() gives the process's one provider; set by
// main from the command line before the helper is created.
void SetProcessThumbnailOptions(QLThumbnailOptions const& options);
QLThumbnailOptions const& ProcessThumbnailOptions();

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_OPTIONS_H_
