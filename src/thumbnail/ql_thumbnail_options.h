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
#include <cstring>
#include <string>
#include <vector>

#include "base/ql_command_line_option.h"
#include "media/ql_media_decoder_settings.h"
#include "protocol/ql_thumbnail_format.h"

struct QLThumbnailOptions {
  // Source pictures above this many pixels (width x height read from the file
  // header before decoding) get their type's fallback picture. 50 MP is about
  // 200 MB as a true-colour canvas; photos from current phones and cameras
  // stay well below it.
  static constexpr std::uint64_t kDefaultMaxSourcePixels = 50000000ull;
  // A request whose canvas could exceed this many pixels (w x h; in full
  // screen mode the longer requested side squared, the canvas of a square
  // picture) is refused with the one-byte failure reply, whatever the
  // picture. 4096 x 4096 is larger than any screen the device serves.
  static constexpr std::uint64_t kDefaultMaxThumbnailPixels = 4096ull * 4096ull;
  // How long the daemon keeps freed decode memory mapped after the last
  // request before it gives it back (ql_decode_memory.h). Long enough to
  // span the pauses of a client paging through a folder, short enough that
  // an idle daemon soon holds no more than before.
  static constexpr unsigned int kDefaultMemoryIdleMs = 5000;
  // --cache-max-mb counts in MiB.
  static constexpr std::uint64_t kBytesPerCacheMb = 1024ull * 1024ull;
  static constexpr std::uint64_t kMaxCacheMb = 16777216ull;  // 16 TiB

  std::uint64_t max_source_pixels = kDefaultMaxSourcePixels;
  std::uint64_t max_thumbnail_pixels = kDefaultMaxThumbnailPixels;

  // Fast paths, all off by default.
  bool jpeg_shrink_on_load = false;  // DCT-scaled JPEG decoding (1/2, 1/4, 1/8)
  bool embedded_previews = false;    // JPEGs' EXIF previews when good enough
  int png_compression_level = -1;    // -1: libgd's default; 0..9: zlib level
  int png_filters = -1;              // -1: libgd's default; else a PNG_FILTER_* mask
  // The format thumbnails are made, cached and sent in; PNG by default.
  QLThumbnailFormat thumbnail_format = QLThumbnailFormat::kPng;
  int thumbnail_quality = -1;  // JPEG and WebP: 1..100; -1: the format's default
  unsigned int jobs = 0;       // 0: one provider lock; N >= 1: N parallel jobs
  // How long a request may wait for the provider lock (with jobs: for its
  // cache entry's lock and for a job slot) before it is answered with the
  // failure reply. 0: as long as it takes. A read stuck in the kernel holds
  // its lock for good; this keeps the other requests from queueing behind it.
  unsigned int lock_wait_ms = 0;
  // 0: freed memory goes back to the kernel at once, as glibc does by
  // default; N: kept for the next request, given back N ms after the last.
  unsigned int memory_idle_ms = kDefaultMemoryIdleMs;
  // 0: cache folders grow without bound; N: after a save takes a folder's
  // cache files over N MiB, its least recently used ones are removed until
  // they take at most 90% of it.
  std::uint64_t cache_max_mb = 0;
  // A cache folder the daemon makes also gets a CACHEDIR.TAG, so backup
  // tools skip it. Off by default: the folders then hold thumbnails only,
  // as callers that list them have always found.
  bool cache_dir_tag = false;

  // Which files are decoded. kBasic: JPEG, PNG, GIF, BMP, WBMP and MP3
  // covers, everything else a default picture. kExtended adds HEIF, AVIF and
  // JPEG XL in a helper, WebP (an animation's first frame) and TIFF in the
  // daemon, camera RAW previews, video frames and PDF first pages
  // (decode/ql_extended_formats.h), each falling back to its type's default picture.
  enum class Formats { kBasic, kExtended };
  Formats formats = Formats::kBasic;

  // Converts thumbnails of pictures with an embedded or declared colour
  // profile (Adobe RGB, Display P3, ProPhoto RGB, CMYK...) to sRGB with
  // lcms2 (color/ql_picture_color.h). Off by default: the cache does not
  // tell thumbnails made with it from those made without.
  bool color_management = false;

  // The helper processes that decode camera RAW previews, video frames, PDF
  // pages and HEIF, AVIF and JPEG XL pictures (decode/ql_media_decoders.h).
  QLMediaDecoderSettings media_decoder;

  // Folders every request's file, cache folder and default-picture folder
  // must resolve into; empty: no confinement.
  std::vector<std::string> allowed_roots;
};

// PNG row filters as libpng numbers them, so a mask goes to png_set_filter
// unchanged.
const int kPngFilterNone = 0x08;
const int kPngFilterSub = 0x10;
const int kPngFilterUp = 0x20;
const int kPngFilterAvg = 0x40;
const int kPngFilterPaeth = 0x80;
const int kPngFilterAll = 0xF8;

// Parses "none", "sub", "up", "avg", "paeth" or "all", comma-separated, into
// a filter mask. False for empty text or an unknown name.
inline bool ParsePngFilters(char const* text, int* mask) {
  if (text == nullptr || *text == '\0') return false;
  static const struct {
    char const* name;
    int bits;
  } kNames[] = {{"none", kPngFilterNone}, {"sub", kPngFilterSub},     {"up", kPngFilterUp},
                {"avg", kPngFilterAvg},   {"paeth", kPngFilterPaeth}, {"all", kPngFilterAll}};
  int result = 0;
  std::string const all(text);
  std::string::size_type start = 0;
  while (start <= all.size()) {
    std::string::size_type end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    std::string const word = all.substr(start, end - start);
    bool known = false;
    for (auto const& entry : kNames) {
      if (word == entry.name) {
        result |= entry.bits;
        known = true;
      }
    }
    if (!known) return false;
    start = end + 1;
  }
  *mask = result;
  return true;
}

// The command-line options that set `*target`, in the order --help lists
// them: --max-source-pixels, --max-thumbnail-pixels, --jpeg-shrink-on-load,
// --embedded-previews, --png-level, --png-filters, --thumbnail-format, --thumbnail-quality,
// --jobs, --lock-wait-ms, --memory-idle-ms, --cache-max-mb, --formats, --color-management,
// --allow-root and the media decoder's (media/ql_media_decoder_settings.h). A refused value leaves
// its field as it was. `target` must outlive the parse.
std::vector<QLCommandLineOption> ThumbnailCommandLineOptions(QLThumbnailOptions* target);

// The options GetProcessHelper() gives the process's one provider: filled
// on the main thread by the command line (GetHelperOptions) before the
// helper is created, read-only afterwards.
QLThumbnailOptions& ProcessThumbnailOptions();

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_OPTIONS_H_
