#include "ql_pregen_outcome.h"

#include <sys/stat.h>

#include <sstream>

QLPregenOutcome ClassifyReply(bool cached_before, QLDaemonReply reply, bool cached_after) {
  if (reply != QLDaemonReply::kThumbnail) return QLPregenOutcome::kFailed;
  if (cached_before) return QLPregenOutcome::kAlreadyCached;
  return cached_after ? QLPregenOutcome::kMade : QLPregenOutcome::kDefaultPicture;
}

std::string CacheFileName(QLThumbnailRequest const& request, std::int64_t mtime) {
  std::ostringstream name;
  name << std::hex << request.resource_id << '_' << std::dec << request.width << 'x'
       << request.height << '_' << (request.full_screen ? '1' : '0') << '_' << std::hex
       << static_cast<unsigned long long>(mtime) << ".png";
  return name.str();
}

std::string CacheFilePath(QLThumbnailRequest const& request) {
  struct stat source;
  if (stat(request.path.c_str(), &source) != 0) return std::string();
  std::string folder = request.thumbnail_folder;
  if (!folder.empty() && folder[folder.size() - 1] != '/') folder += '/';
  return folder + CacheFileName(request, static_cast<std::int64_t>(source.st_mtime));
}

bool CacheFilePresent(std::string const& path) {
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         info.st_size > 0;
}
