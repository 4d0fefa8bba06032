// How quorlin_gd_pregen tells what one request came to, from what it can see
// without any change to the daemon's protocol: the reply, and the cache file
// the daemon names for the request (protocol/ql_cache_file_name.h) in the
// cache folder, looked at before and after the request.
//
//  - already cached: the cache file existed before the request (and the
//    daemon answered with a picture: it served that file);
//  - made: the daemon answered with a picture and the cache file exists now;
//  - default picture: a picture, but no cache file (default pictures are
//    never cached; so is a thumbnail the daemon made but could not save);
//  - failed: the zero-byte reply, no reply (connection closed, timed out)
//    or a reply that is no picture.
// The cache file looked at is the one of the reply's format (PNG, JPEG or
// WebP, whichever the daemon makes), so pregen needs no format option.
//
// Pure functions apart from the file look-ups; any thread may call them.
#ifndef QUORLIN_TOOLS_PREGEN_QL_PREGEN_OUTCOME_H_
#define QUORLIN_TOOLS_PREGEN_QL_PREGEN_OUTCOME_H_

#include <cstdint>
#include <string>

#include "protocol/ql_thumbnail_format.h"
#include "ql_daemon_connection.h"

enum class QLPregenOutcome { kMade, kAlreadyCached, kDefaultPicture, kFailed };

QLPregenOutcome ClassifyReply(bool cached_before, QLDaemonReply reply, bool cached_after);

// The cache file's full path in `format` for the source as it is now; empty
// when the source cannot be looked at (then the daemon has nothing to cache
// either).
std::string CacheFilePath(QLThumbnailRequest const& request, QLThumbnailFormat format);

// True when `path` is a non-empty regular file: what the daemon serves as a
// cache hit.
bool CacheFilePresent(std::string const& path);

#endif  // QUORLIN_TOOLS_PREGEN_QL_PREGEN_OUTCOME_H_
