// The name of a cache file: "<hex id>_<w>x<h>_<0|1>_<hex mtime>.png", the
// resource id and the source's modification time in lower-case hexadecimal,
// the size in decimal, 1 for the fit-the-whole-picture mode; ".jpg" or
// ".webp" instead of ".png" for thumbnails made in those formats, so files
// of different formats never pass for one another. The daemon
// writes and looks up these names; the tools that check the cache work them
// out the same way. A file is fresh exactly when its name carries the
// source's current time, so the files of one entry (one id, size and mode)
// share the prefix without the time and the extension, and the clean-up
// removes by it.
//
// Contract: pure functions on values; any thread may call them.
#ifndef QUORLIN_PROTOCOL_QL_CACHE_FILE_NAME_H_
#define QUORLIN_PROTOCOL_QL_CACHE_FILE_NAME_H_

#include <cstdint>
#include <string>

#include "protocol/ql_thumbnail_format.h"

// What names one cache entry.
struct QLCacheEntryKey {
  std::uint64_t resource_id = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool full_screen = false;
  QLThumbnailFormat format = QLThumbnailFormat::kPng;  // names the extension only
};

// "<hex id>_<w>x<h>_<0|1>": the part every file of the entry shares, in
// every format.
std::string CacheFilePrefix(QLCacheEntryKey const& key);

// The file name for a source modified at `modified` (seconds since the
// epoch; a time before it is written as its 64-bit two's complement).
std::string CacheFileName(QLCacheEntryKey const& key, std::int64_t modified);

// The inverse of CacheFileName: true, filling *key and *modified, only for
// a name CacheFileName writes (lower-case digits, no leading zeros, nothing
// before or after); false for any other name, temporary files included.
bool ParseCacheFileName(std::string const& name, QLCacheEntryKey* key, std::int64_t* modified);

// The file a cache folder the daemon made holds beside its thumbnails, so
// that backup tools that honour the convention skip the folder: its name,
// and its content, whose first line is the convention's fixed signature.
extern char const kCacheDirTagName[];
extern char const kCacheDirTagContent[];

#endif  // QUORLIN_PROTOCOL_QL_CACHE_FILE_NAME_H_
