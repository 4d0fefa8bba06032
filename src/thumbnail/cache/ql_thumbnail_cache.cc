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
#include <sstream>
#include <string>
#include <vector>

#include "base/ql_array_deleter.h"
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

// The cache folder made absolute, with a trailing "/" unless empty. Throws
// boost::filesystem::filesystem_error when it cannot be made absolute.
std::string CacheFolder(QLThumbnailData const& data) {
  std::string folder;
  if (!data.thumbnail_folder.empty()) {
    folder = boost::filesystem::absolute(data.thumbnail_folder, boost::filesystem::initial_path())
                 .string();
  }
  if (!folder.empty() && folder[folder.size() - 1] != '/') folder += '/';
  return folder;
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

QLThumbnailCacheName QLThumbnailCache::MakeName(QLThumbnailData const& data, std::time_t modified) {
  QLThumbnailCacheName name;
  name.folder = CacheFolder(data);
  name.prefix = CacheFilePrefix(EntryOf(data));
  name.file = CacheFileName(EntryOf(data), static_cast<std::int64_t>(modified));
  return name;
}

QLThumbnailCache::QLThumbnailCache() : space_query_(&AvailableSpace) {}

std::string QLThumbnailCache::EntryKey(QLThumbnailData const& data) {
  std::string folder;
  try {
    // "a/./b" and "a/b" name one folder and must share one lock.
    folder = boost::filesystem::path(CacheFolder(data)).lexically_normal().string();
  } catch (boost::filesystem::filesystem_error const&) {
    folder = data.thumbnail_folder;  // the look-up will fail the same way
  }
  return folder + '\0' + CacheFilePrefix(EntryOf(data));
}

bool QLThumbnailCache::LookUp(QLThumbnailData& data, QLRequestFiles& files) {
  std::time_t modified = 0;
  if (!files.SourceModified(&modified))
    return false;  // typically the source is gone: a silent miss
  QLThumbnailCacheName name;
  try {
    name = MakeName(data, modified);
  } catch (boost::filesystem::filesystem_error const&) {
    return false;
  }
  std::string const candidate = name.folder + name.file;
  auto const unusable = [&](std::string const& why) {
    QL_ERROR("Cannot open saved thumbnail file for \"" << data.path << "\", located in \""
                                                       << candidate << "\""
                                                       << ": " << why);
    return false;
  };

  int const folder = files.CacheFolder(false);
  if (folder < 0 && errno == EXDEV) return false;  // refused, with its line
  // Only a regular file is read (a named pipe placed under the entry's name
  // must not hold this request and the lock forever), and never through a
  // symlink at the entry's name: that could serve any file as a thumbnail.
  QLUniqueFd opened(folder < 0 ? -1
                               : openat(folder, name.file.c_str(),
                                        QLRegularFile::kOpenFlags | O_NOFOLLOW | O_CLOEXEC));
  int const open_error = errno;
  if (folder >= 0 && !opened.valid() && open_error == ELOOP) {
    QL_ERROR("Not reading \"" << candidate << "\": it is a symbolic link, not a regular file.");
    return false;
  }
  errno = open_error;
  QLRegularFile file(candidate, std::move(opened));
  if (file.reported()) return false;
  if (!file.is_open()) {
    if (file.error() == ENOENT || file.error() == ENOTDIR) {
      QL_INFO("No cached thumbnail for \"" << data.path << "\".");
      return false;
    }
    return unusable(std::strerror(file.error()));
  }
  std::uint64_t const size = file.size();
  std::size_t const head = static_cast<std::size_t>(std::min<std::uint64_t>(size, kSignatureBytes));
  if (size > kMaxCachedThumbnailBytes || size == 0) {
    return unusable("unusable size " + std::to_string(size));
  }
  // The signature first: a file of another format costs no allocation of its
  // size (its name says the format; the bytes must agree).
  unsigned char signature[kSignatureBytes];
  if (!file.ReadExactly(signature, head)) {
    return unusable("the file could not be read in full");
  }
  if (!HasThumbnailSignature(data.format, signature, head)) {
    return unusable(data.format == QLThumbnailFormat::kPng
                        ? std::string("not a PNG file")
                        : std::string("not a ") + ThumbnailFormatName(data.format) + " file");
  }
  boost::shared_ptr<unsigned char> bytes(new unsigned char[size], arrayDeleter<unsigned char>());
  std::memcpy(bytes.get(), signature, head);
  // Only bytes that really came from the file may be served.
  if (!file.ReadExactly(bytes.get() + head, static_cast<std::size_t>(size - head))) {
    return unusable("the file could not be read in full");
  }
  data.thumbnail = bytes;
  data.thumbnail_size = static_cast<std::int64_t>(size);
  QL_INFO("Sending cached thumbanil for \"" << data.path << "\".");
  return true;
}

void QLThumbnailCache::Save(QLThumbnailData const& data, QLRequestFiles& files) {
  std::time_t modified = 0;
  QLThumbnailCacheName name;
  try {
    if (!files.SourceModified(&modified)) {
      QL_ERROR("Problems when trying to obtain info from resource " << data.resource_id << ". "
                                                                    << "the source cannot be read");
      return;
    }
    name = MakeName(data, modified);
  } catch (boost::filesystem::filesystem_error const& e) {
    QL_ERROR("Problems when trying to obtain info from resource " << data.resource_id << ". "
                                                                  << e.what());
    return;
  }
  int const folder = files.CacheFolder(true);
  if (folder < 0) {
    // A folder outside the allowed ones has had its line.
    if (errno != EXDEV) {
      QL_ERROR("Problems when trying to cleanup outdated thumbnails for \""
               << data.path << "\". " << name.folder << ": " << std::strerror(errno));
    }
    return;
  }
  if (RemoveOutdated(data, name, folder)) SaveAtomically(data, name, folder);
}

bool QLThumbnailCache::RemoveOutdated(QLThumbnailData const& data, QLThumbnailCacheName const& name,
                                      int dir) {
  // The index hands over the names that begin with the prefix (listing the
  // folder only when it cannot vouch for it); each is examined here as the
  // listing would have: entries that are gone or are directories stay.
  std::vector<std::string> candidates;
  if (!index_.FindPrefix(name.folder, dir, name.prefix, &candidates)) {
    QL_ERROR("Path \"" << name.folder << "\" cannot be reached.");
    return false;
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
      QL_ERROR("Problems when trying to cleanup outdated thumbnails for \""
               << data.path << "\". " << name.folder + entry_name << ": " << std::strerror(error));
      return false;
    }
  }
  return true;
}

void QLThumbnailCache::SaveAtomically(QLThumbnailData const& data, QLThumbnailCacheName const& name,
                                      int dir) {
  // A temporary file next to the final one is renamed into place, so a
  // reader never finds a truncated thumbnail under the final name.
  std::string const final_path = name.folder + name.file;
  try {
    if (!data.thumbnail || data.thumbnail_size <= 0) {
      QL_ERROR("Problems when trying to save thumbnail for \"" << data.path << "\". "
                                                               << "no thumbnail bytes");
      return;
    }
    std::uint64_t const size = static_cast<std::uint64_t>(data.thumbnail_size);
    std::uintmax_t const available =
        space_query_ ? space_query_(name.folder) : AvailableSpace(name.folder);
    if (available < size) {
      QL_ERROR("Unable to cache thumbnail. Insufficient disk space. Require "
               << data.thumbnail_size << " but availble only " << available << ". ");
      return;
    }

    std::string const temp_name = TempName(name.file);
    int opened = -1;
    index_.Apply(name.folder, dir, std::string(), temp_name, [&] {
      opened = openat(dir, temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0666);
      return opened >= 0;
    });
    QLUniqueFd fd(opened);
    if (fd.get() < 0) {
      QL_ERROR("Cannot open file \"" << final_path << "\" for writing.");
      return;
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
      QL_ERROR("Problems when trying to save thumbnail for \"" << data.path << "\". "
                                                               << std::strerror(error));
    }
  } catch (boost::filesystem::filesystem_error const& e) {
    QL_ERROR("Problems when trying to save thumbnail for \"" << data.path << "\". " << e.what());
  }
}
