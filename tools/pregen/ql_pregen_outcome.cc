#include "ql_pregen_outcome.h"

#include <sys/stat.h>

#include "protocol/ql_cache_file_name.h"

QLPregenOutcome ClassifyReply(bool cached_before, QLDaemonReply reply, bool cached_after) {
  if (reply != QLDaemonReply::kThumbnail) return QLPregenOutcome::kFailed;
  if (cached_before) return QLPregenOutcome::kAlreadyCached;
  return cached_after ? QLPregenOutcome::kMade : QLPregenOutcome::kDefaultPicture;
}

std::string CacheFilePath(QLThumbnailRequest const& request, QLThumbnailFormat format) {
  struct stat source;
  if (stat(request.path.c_str(), &source) != 0) return std::string();
  std::string folder = request.thumbnail_folder;
  if (!folder.empty() && folder[folder.size() - 1] != '/') folder += '/';
  QLCacheEntryKey key;
  key.resource_id = request.resource_id;
  key.width = request.width;
  key.height = request.height;
  key.full_screen = request.full_screen;
  key.format = format;
  return folder + CacheFileName(key, static_cast<std::int64_t>(source.st_mtime));
}

bool CacheFilePresent(std::string const& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         info.st_size > 0;
}
