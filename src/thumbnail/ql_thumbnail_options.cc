#include "thumbnail/ql_thumbnail_options.h"

#include <cstdint>
#include <cstring>

namespace {

// `option` with its lines of the --help text.
QLCommandLineOption WithHelp(QLCommandLineOption option, std::string help) {
  option.help = std::move(help);
  return option;
}

// A pixel-count limit: any positive number.
QLCommandLineOption PixelLimitOption(std::string name, std::string help, std::uint64_t* limit) {
  return WithHelp(NumberOption(std::move(name), 1, UINT64_MAX, "a positive number",
                               [limit](std::uint64_t pixels) { *limit = pixels; }),
                  std::move(help));
}

// A number of milliseconds up to an hour: longer than any request could
// sensibly wait or memory be worth keeping.
QLCommandLineOption MillisecondsOption(std::string name, std::string help, unsigned int* target) {
  return WithHelp(
      NumberOption(std::move(name), 0, 3600000, "0 to 3600000",
                   [target](std::uint64_t ms) { *target = static_cast<unsigned int>(ms); }),
      std::move(help));
}

}  // namespace

std::vector<QLCommandLineOption> ThumbnailCommandLineOptions(QLThumbnailOptions* target) {
  std::vector<QLCommandLineOption> options;
  options.push_back(PixelLimitOption(
      "max-source-pixels",
      "      --max-source-pixels N largest source picture decoded, width x height\n"
      "                            (default " +
          std::to_string(QLThumbnailOptions::kDefaultMaxSourcePixels) +
          "); larger files get the default picture\n",
      &target->max_source_pixels));
  options.push_back(
      PixelLimitOption("max-thumbnail-pixels",
                       "      --max-thumbnail-pixels N  largest thumbnail canvas (default " +
                           std::to_string(QLThumbnailOptions::kDefaultMaxThumbnailPixels) +
                           ");\n"
                           "                            larger requests get the failure reply\n",
                       &target->max_thumbnail_pixels));
  options.push_back(
      WithHelp(FlagOption("jpeg-shrink-on-load", &target->jpeg_shrink_on_load),
               "      --jpeg-shrink-on-load decode JPEG photos at 1/2, 1/4 or 1/8 size when the\n"
               "                            thumbnail needs no more (off by default)\n"));
  options.push_back(
      WithHelp(FlagOption("embedded-previews", &target->embedded_previews),
               "      --embedded-previews   make a JPEG's thumbnail from the preview in its EXIF\n"
               "                            data when that has pixels enough (off by default)\n"));
  options.push_back(
      WithHelp(NumberOption("png-level", 0, 9, "0 to 9",
                            [target](std::uint64_t level) {
                              target->png_compression_level = static_cast<int>(level);
                            }),
               "      --png-level N         zlib level 0-9 for thumbnails (default: libgd's)\n"));
  options.push_back({"png-filters", true,
                     "      --png-filters LIST    PNG row filters: none,sub,up,avg,paeth or all\n"
                     "                            (default: libgd's)\n",
                     "none, sub, up, avg, paeth or all, comma-separated",
                     [target](char const* value) {
                       int mask = 0;
                       if (!ParsePngFilters(value, &mask)) return false;
                       target->png_filters = mask;
                       return true;
                     }});
  options.push_back(
      {"thumbnail-format", true,
       "      --thumbnail-format F  png (the default), jpeg or webp: the format thumbnails\n"
       "                            are made, cached and sent in\n",
       "png, jpeg or webp", [target](char const* value) {
         return ParseThumbnailFormat(value, &target->thumbnail_format);
       }});
  options.push_back(
      WithHelp(NumberOption("thumbnail-quality", 1, 100, "1 to 100",
                            [target](std::uint64_t quality) {
                              target->thumbnail_quality = static_cast<int>(quality);
                            }),
               "      --thumbnail-quality N JPEG or WebP quality 1-100 (default 85 for JPEG,\n"
               "                            80 for WebP; 100 makes WebP lossless)\n"));
  options.push_back(WithHelp(
      NumberOption(
          "jobs", 1, 64, "1 to 64",
          [target](std::uint64_t jobs) { target->jobs = static_cast<unsigned int>(jobs); }),
      "      --jobs N              make up to N thumbnails at once, 1-64 (default: one\n"
      "                            at a time under a single lock)\n"));
  options.push_back(MillisecondsOption(
      "lock-wait-ms",
      "      --lock-wait-ms N      answer a request with the failure reply when it has\n"
      "                            waited N ms for the provider lock (with --jobs: for\n"
      "                            its cache entry or a job slot); 0, the default:\n"
      "                            wait as long as it takes\n",
      &target->lock_wait_ms));
  options.push_back(MillisecondsOption(
      "memory-idle-ms",
      "      --memory-idle-ms N    keep freed decode memory for the next request and\n"
      "                            give it back N ms after the last one (default " +
          std::to_string(QLThumbnailOptions::kDefaultMemoryIdleMs) +
          ");\n"
          "                            0: give it back at once\n",
      &target->memory_idle_ms));
  options.push_back(
      WithHelp(FlagOption("cache-dir-tag", &target->cache_dir_tag),
               "      --cache-dir-tag       put a CACHEDIR.TAG into each cache folder made, so\n"
               "                            backup tools skip it (off by default)\n"));
  options.push_back(
      WithHelp(NumberOption("cache-max-mb", 1, QLThumbnailOptions::kMaxCacheMb,
                            "1 to " + std::to_string(QLThumbnailOptions::kMaxCacheMb),
                            [target](std::uint64_t mb) { target->cache_max_mb = mb; }),
               "      --cache-max-mb N      cap each cache folder's thumbnails at N MiB (2^20\n"
               "                            bytes): past it, the least recently used go until\n"
               "                            90% of N is left (default: no cap)\n"));
  options.push_back(
      {"formats", true,
       "      --formats SET         basic (the default): JPEG, PNG, GIF, BMP, WBMP, MP3;\n"
       "                            extended: also HEIF, AVIF, WebP, TIFF, camera RAW\n"
       "                            and video\n",
       "basic or extended", [target](char const* value) {
         if (std::strcmp(value, "basic") == 0) {
           target->formats = QLThumbnailOptions::Formats::kBasic;
         } else if (std::strcmp(value, "extended") == 0) {
           target->formats = QLThumbnailOptions::Formats::kExtended;
         } else {
           return false;
         }
         return true;
       }});
  options.push_back(
      WithHelp(FlagOption("color-management", &target->color_management),
               "      --color-management    convert thumbnails of pictures with a colour profile\n"
               "                            (Adobe RGB, Display P3, ProPhoto, CMYK...) to sRGB\n"
               "                            (off by default; clear the cache folders when\n"
               "                            changing it, cached thumbnails are kept as made)\n"));
  options.push_back(
      {"allow-root", true,
       "      --allow-root DIR      requests' files and folders must resolve inside DIR\n"
       "                            (repeatable; default: anywhere)\n",
       "a folder", [target](char const* value) {
         target->allowed_roots.push_back(value);
         return true;
       }});
  for (QLCommandLineOption& option : MediaDecoderCommandLineOptions(&target->media_decoder)) {
    options.push_back(std::move(option));
  }
  return options;
}

QLThumbnailOptions& ProcessThumbnailOptions() {
  static QLThumbnailOptions options;
  return options;
}
