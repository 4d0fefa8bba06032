#include "thumbnail/cache/ql_thumbnail_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/ql_array_deleter.h"
#include "base/ql_status.h"
#include "base/ql_unique_fd.h"
#include "base/ql_write_all.h"
#include "log/ql_log.h"
#include "protocol/ql_cache_file_name.h"
#include "thumbnail/ql_regular_file.h"

namespace {

// A cache file bigger than this is not a thumbnail we wrote (a reply frame
// could not even carry it): treat it as a miss instead of allocating for it.
const std::uint64_t kMaxCachedThumbnailBytes = 256u * 1024u * 1024u;
// Enough bytes for the signature of every thumbnail format.
const std::size_t kSignatureBytes = 12;

// Temporary files start with a dot, never a hexadecimal digit, so no
// thumbnail prefix can match them and the clean-up leaves them alone. The
// process id and a counter make each one unique: two saves of the same file
// name (one folder spelt two ways, say) never write into one temporary.
const char kTempPrefix[] = ".tmp-";
std::atomic<unsigned long> g_temp_counter(0);

std::string TempName(std::string const& file) {
  std::ostringstream name;
  name << kTempPrefix << getpid() << '-' << g_temp_counter.fetch_add(1) << '-' << file;
  return name.str();
}

// The cache folder made absolute, with a trailing "/" unless empty. The one
// place where naming the cache can raise a file-system error: it becomes the
// status here.
QLStatus CacheFolder(QLThumbnailData const& data, std::string* folder) {
  folder->clear();
  if (data.thumbnail_folder.empty()) return QLStatus();
  try {
    *folder = boost::filesystem::absolute(data.thumbnail_folder, boost::filesystem::initial_path())
                  .string();
  } catch (boost::filesystem::filesystem_error const& e) {
    return QLPosixError(data.thumbnail_folder, e.what(), e.code().value());
  }
  if (!folder->empty() && folder->back() != '/') *folder += '/';
  return QLStatus();
}

QLCacheEntryKey EntryOf(QLThumbnailData const& data) {
  QLCacheEntryKey key;
  key.resource_id = data.resource_id;
  key.width = data.width;
  key.height = data.height;
  key.full_screen = data.full_screen;
  key.format = data.format;
  return key;
}

std::uintmax_t AvailableSpace(std::string const& folder) {
  return boost::filesystem::space(folder).available;
}

}  // namespace

QLStatus QLThumbnailCache::MakeName(QLThumbnailData const& data, std::time_t modified,
                                    QLThumbnailCacheName* name) {
  name->prefix = CacheFilePrefix(EntryOf(data));
  name->file = CacheFileName(EntryOf(data), static_cast<std::int64_t>(modified));
  return CacheFolder(data, &name->folder);
}

QLThumbnailCache::QLThumbnailCache() : space_query_(&AvailableSpace) {}

std::string QLThumbnailCache::EntryKey(QLThumbnailData const& data) {
  std::string folder;
  if (CacheFolder(data, &folder).ok()) {
    // "a/./b" and "a/b" name one folder and must share one lock.
    folder = boost::filesystem::path(folder).lexically_normal().string();
  } else {
    folder = data.thumbnail_folder;  // the look-up will fail the same way
  }
  return folder + '\0' + CacheFilePrefix(EntryOf(data));
}

QLStatus QLThumbnailCache::LookUp(QLThumbnailData& data, QLRequestFiles& files) {
  std::time_t modified = 0;
  QLStatus const source = files.SourceModified(&modified);
  // Typically the source is gone: a silent miss.
  if (!source.ok()) return QLStatus(QLStatus::Kind::kNotFound, data.path, source.what());
  QLThumbnailCacheName name;
  QLStatus const named = MakeName(data, modified, &name);
  if (!named.ok()) return QLStatus(QLStatus::Kind::kNotFound, named.where(), named.what());
  std::string const candidate = name.folder + name.file;
  std::string const cannot_open = "Cannot open saved thumbnail file for \"" + data.path +
                                  "\", located in \"" + candidate + "\": ";
  auto const unusable = [&](QLStatus::Kind kind, std::string const& why) {
    return QLStatus(kind, candidate, cannot_open + why);
  };

  int folder = -1;
  QLStatus const reached = files.CacheFolder(false, &folder);
  if (reached.kind() == QLStatus::Kind::kRefused) return reached;
  // Only a regular file is read (a named pipe placed under the entry's name
  // must not hold this request and the lock forever), and never through a
  // symlink at the entry's name: that could serve any file as a thumbnail.
  errno = reached.error();
  QLUniqueFd opened(folder < 0 ? -1
                               : openat(folder, name.file.c_str(),
                                        QLRegularFile::kOpenFlags | O_NOFOLLOW | O_CLOEXEC));
  int const open_error = errno;
  if (folder >= 0 && !opened.valid() && open_error == ELOOP) {
    return QLStatus(QLStatus::Kind::kInvalid, candidate,
                    "Not reading \"" + candidate + "\": it is a symbolic link, not a regular file.",
                    open_error);
  }
  errno = open_error;
  QLRegularFile file(candidate, std::move(opened));
  if (file.reported()) return file.status();
  if (!file.is_open()) {
    QLStatus const& status = file.status();
    if (status.kind() == QLStatus::Kind::kNotFound) {
      QL_INFO("No cached thumbnail for \"" << data.path << "\".");
      return status;
    }
    return QLPosixError(candidate, cannot_open + QLErrnoText(status.error()), status.error());
  }
  std::uint64_t const size = file.size();
  std::size_t const head = static_cast<std::size_t>(std::min<std::uint64_t>(size, kSignatureBytes));
  if (size > kMaxCachedThumbnailBytes || size == 0) {
    return unusable(QLStatus::Kind::kInvalid, "unusable size " + std::to_string(size));
  }
  // The signature first: a file of another format costs no allocation of its
  // size (its name says the format; the bytes must agree).
  unsigned char signature[kSignatureBytes];
  if (!file.ReadExactly(signature, head)) {
    return unusable(QLStatus::Kind::kIo, "the file could not be read in full");
  }
  if (!HasThumbnailSignature(data.format, signature, head)) {
    return unusable(QLStatus::Kind::kInvalid,
                    data.format == QLThumbnailFormat::kPng
                        ? std::string("not a PNG file")
                        : std::string("not a ") + ThumbnailFormatName(data.format) + " file");
  }
  boost::shared_ptr<unsigned char> bytes(new unsigned char[size], arrayDeleter<unsigned char>());
  std::memcpy(bytes.get(), signature, head);
  // Only bytes that really came from the file may be served.
  if (!file.ReadExactly(bytes.get() + head, static_cast<std::size_t>(size - head))) {
    return unusable(QLStatus::Kind::kIo, "the file could not be read in full");
  }
  data.thumbnail = bytes;
  data.thumbnail_size = static_cast<std::int64_t>(size);
  QL_INFO("Sending cached thumbanil for \"" << data.path << "\".");
  if (max_bytes_ > 0) {
    // Recency for the cap: the hit file's own time, on the very file read.
    static struct timespec const kNow[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    struct stat info;
    if (futimens(file.fd(), kNow) == 0 && fstat(file.fd(), &info) == 0) {
      std::shared_ptr<QLCacheUpkeep> const upkeep = std::make_shared<QLCacheUpkeep>();
      upkeep->folder = name.folder;
      upkeep->file = name.file;
      upkeep->hit = true;
      upkeep->used = info.st_mtim;
      data.upkeep = upkeep;
    }
  }
  return QLStatus();
}

QLStatus QLThumbnailCache::Save(QLThumbnailData& data, QLRequestFiles& files) {
  std::string const lead = "Problems when trying to obtain info from resource " +
                           std::to_string(data.resource_id) + ". ";
  std::time_t modified = 0;
  QLStatus const source = files.SourceModified(&modified);
  if (!source.ok()) return QLStatus(source.kind(), data.path, lead + source.what(), source.error());
  QLThumbnailCacheName name;
  QLStatus const named = MakeName(data, modified, &name);
  if (!named.ok()) return QLStatus(named.kind(), named.where(), lead + named.what(), named.error());
  int folder = -1;
  QLStatus const reached = files.CacheFolder(true, &folder, tag_new_folders_);
  if (reached.kind() == QLStatus::Kind::kRefused) return reached;
  if (!reached.ok()) {
    return QLPosixError(name.folder,
                        "Problems when trying to cleanup outdated thumbnails for \"" + data.path +
                            "\". " + name.folder + ": " + QLErrnoText(reached.error()),
                        reached.error());
  }
  QLStatus const cleaned = RemoveOutdated(data, name, folder);
  if (!cleaned.ok()) return cleaned;
  QLStatus const saved = SaveAtomically(data, name, folder);
  std::uint64_t bytes = 0;
  if (!saved.ok() || max_bytes_ == 0 || !index_.CacheBytes(name.folder, &bytes) ||
      bytes <= max_bytes_) {
    return saved;
  }
  // The folder must outlive the request's files, which close before the reply.
  QLUniqueFd dir(fcntl(folder, F_DUPFD_CLOEXEC, 0));
  if (dir.valid()) {
    std::shared_ptr<QLCacheUpkeep> const upkeep = std::make_shared<QLCacheUpkeep>();
    upkeep->folder = name.folder;
    upkeep->file = name.file;
    upkeep->dir = std::move(dir);
    data.upkeep = upkeep;
  }
  return saved;
}

void QLThumbnailCache::SetMaxBytes(std::uint64_t bytes) {
  max_bytes_ = bytes;
  index_.TrackCacheFiles(bytes > 0);
}

QLStatus QLThumbnailCache::AfterReply(QLCacheUpkeep& upkeep) {
  if (upkeep.hit) {
    index_.Touch(upkeep.folder, upkeep.file, upkeep.used);
    return QLStatus();
  }
  if (!upkeep.dir.valid() || max_bytes_ == 0) return QLStatus();
  QLCacheFolderIndex::Eviction done;
  QLStatus const evicted = index_.Evict(upkeep.folder, upkeep.dir.get(),
                                        max_bytes_ - max_bytes_ / 10, upkeep.file, &done);
  if (done.files > 0) {
    QL_INFO("Removed " << done.files << " least recently used thumbnails (" << done.bytes
                       << " bytes) from \"" << upkeep.folder << "\" to keep it under its cap of "
                       << max_bytes_ << " bytes.");
  }
  if (evicted.ok()) return evicted;
  return QLPosixError(evicted.where(),
                      "Problems when trying to remove least recently used thumbnails. " +
                          evicted.where() + ": " + QLErrnoText(evicted.error()),
                      evicted.error());
}

QLStatus QLThumbnailCache::RemoveOutdated(QLThumbnailData const& data,
                                          QLThumbnailCacheName const& name, int dir) {
  // The index hands over the names that begin with the prefix (listing the
  // folder only when it cannot vouch for it); each is examined here as the
  // listing would have: entries that are gone or are directories stay.
  std::vector<std::string> candidates;
  QLStatus const listed = index_.FindPrefix(name.folder, dir, name.prefix, &candidates);
  if (!listed.ok()) {
    return QLPosixError(name.folder, "Path \"" + name.folder + "\" cannot be reached.",
                        listed.error());
  }
  std::vector<std::string> outdated;
  for (std::string const& entry_name : candidates) {
    struct stat64 info;
    if (fstatat64(dir, entry_name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISDIR(info.st_mode)) {
      continue;
    }
    outdated.push_back(entry_name);
    QL_INFO("Mark for deletion: " << name.folder + entry_name);
  }
  for (std::string const& entry_name : outdated) {
    int error = 0;
    index_.Apply(name.folder, dir, entry_name, std::string(), [&] {
      // Gone either way unless it fails for another reason.
      if (unlinkat(dir, entry_name.c_str(), 0) == 0 || errno == ENOENT) return true;
      error = errno;
      return false;
    });
    if (error != 0) {
      std::string const path = name.folder + entry_name;
      return QLPosixError(path,
                          "Problems when trying to cleanup outdated thumbnails for \"" + data.path +
                              "\". " + path + ": " + QLErrnoText(error),
                          error);
    }
  }
  return QLStatus();
}

QLStatus QLThumbnailCache::SaveAtomically(QLThumbnailData const& data,
                                          QLThumbnailCacheName const& name, int dir) {
  // A temporary file next to the final one is renamed into place, so a
  // reader never finds a truncated thumbnail under the final name.
  std::string const final_path = name.folder + name.file;
  std::string const lead = "Problems when trying to save thumbnail for \"" + data.path + "\". ";
  if (!data.thumbnail || data.thumbnail_size <= 0) {
    return QLStatus(QLStatus::Kind::kInvalid, final_path, lead + "no thumbnail bytes");
  }
  std::uint64_t const size = static_cast<std::uint64_t>(data.thumbnail_size);
  std::uintmax_t available = 0;
  try {
    // Boost's space() reports its failure by raising it.
    available = space_query_ ? space_query_(name.folder) : AvailableSpace(name.folder);
  } catch (boost::filesystem::filesystem_error const& e) {
    return QLPosixError(name.folder, lead + e.what(), e.code().value());
  }
  if (available < size) {
    return QLStatus(QLStatus::Kind::kNoSpace, final_path,
                    "Unable to cache thumbnail. Insufficient disk space. Require " +
                        std::to_string(data.thumbnail_size) + " but availble only " +
                        std::to_string(available) + ". ",
                    ENOSPC);
  }

  std::string const temp_name = TempName(name.file);
  int opened = -1;
  int open_error = 0;
  index_.Apply(name.folder, dir, std::string(), temp_name, [&] {
    opened =
        openat(dir, temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    open_error = errno;
    return opened >= 0;
  });
  QLUniqueFd fd(opened);
  if (fd.get() < 0) {
    return QLPosixError(final_path, "Cannot open file \"" + final_path + "\" for writing.",
                        open_error);
  }
  // fsync before the rename: freshness is decided by name alone, so a file
  // that lost its contents in a power cut would be served for as long as the
  // source stays unchanged.
  int error = 0;
  if (!WriteAll(fd.get(), static_cast<unsigned char const*>(data.thumbnail.get()), size) ||
      fsync(fd.get()) != 0) {
    error = errno;
  }
  if (!fd.Close() && error == 0) error = errno;
  if (error == 0) {
    index_.Apply(name.folder, dir, temp_name, name.file, [&] {
      if (renameat(dir, temp_name.c_str(), dir, name.file.c_str()) == 0) return true;
      error = errno;
      return false;
    });
  }
  if (error != 0) {
    index_.Apply(name.folder, dir, temp_name, std::string(),
                 [&] { return unlinkat(dir, temp_name.c_str(), 0) == 0 || errno == ENOENT; });
    return QLPosixError(final_path, lead + QLErrnoText(error), error);
  }
  return QLStatus();
}
