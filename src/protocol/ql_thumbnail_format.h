// The picture formats a thumbnail may be made in, as the daemon's option
// names them, as the cache files end, and as a reply's first bytes show.
// The reply itself carries no format field: its signature is the format,
// which every picture reader already goes by.
//
// Adding a format means one more row in the table of ql_thumbnail_format.cc.
// Contract: pure functions on values; any thread may call them.
#ifndef QUORLIN_PROTOCOL_QL_THUMBNAIL_FORMAT_H_
#define QUORLIN_PROTOCOL_QL_THUMBNAIL_FORMAT_H_

#include <cstddef>

enum class QLThumbnailFormat { kPng, kJpeg, kWebp };

// Every format, the default (PNG) first.
extern QLThumbnailFormat const kAllThumbnailFormats[3];

// "png", "jpeg" or "webp": the option value.
char const* ThumbnailFormatName(QLThumbnailFormat format);
// ".png", ".jpg" or ".webp": how the cache files end.
char const* ThumbnailFormatExtension(QLThumbnailFormat format);
// The format an option value names; false for anything else.
bool ParseThumbnailFormat(char const* name, QLThumbnailFormat* format);
// True when `bytes` start with the signature of `format`.
bool HasThumbnailSignature(QLThumbnailFormat format, unsigned char const* bytes, std::size_t size);
// The format whose signature starts `bytes`; false when none does.
bool SniffThumbnailFormat(unsigned char const* bytes, std::size_t size, QLThumbnailFormat* format);

#endif  // QUORLIN_PROTOCOL_QL_THUMBNAIL_FORMAT_H_
