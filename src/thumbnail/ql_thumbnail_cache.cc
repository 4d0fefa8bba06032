// The thumbnail cache of QLThumbnailProvider: one PNG file per resource, size
// and scaling mode in a flat folder named by the request. A file is fresh
// exactly when its name carries the source file's current modification time.
//
// Both operations run under the provider lock (they are called only from
// GetThumbnailFor, or by tests on a provider of their own). Nothing guards
// against other processes changing the folder, so every file-system step
// expects to fail and turns the failure into a miss or a skipped save.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ipc/ql_array_deleter.h"
#include "log/ql_log.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

// A cache file bigger than this is not a thumbnail we wrote (a reply frame
// could not even carry it): treat it as a miss instead of allocating for it.
const std::uintmax_t kMaxCachedThumbnailBytes = 256u * 1024u * 1024u;

// Temporary files start with a dot, never a hexadecimal digit, so no
// thumbnail prefix can match them and the clean-up leaves them alone.
const char kTempPrefix[] = ".tmp-";

class DirHolder {
 public:
  explicit DirHolder(std::string const& folder) : dir_(opendir(folder.c_str())) {}
  ~DirHolder() {
    if (dir_) closedir(dir_);
  }
  DirHolder(DirHolder const&) = delete;
  DirHolder& operator=(DirHolder const&) = delete;
  DIR* get() const { return dir_; }
  void Close() {
    if (dir_) closedir(dir_);
    dir_ = nullptr;
  }

 private:
  DIR* dir_;
};

class FdHolder {
 public:
  explicit FdHolder(int fd) : fd_(fd) {}
  ~FdHolder() { Close(); }
  FdHolder(FdHolder const&) = delete;
  FdHolder& operator=(FdHolder const&) = delete;
  int get() const { return fd_; }
  // Returns false when close() reports an error (data may not have landed).
  bool Close() {
    if (fd_ < 0) return true;
    int const result = close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

// Cache folder and the name parts shared by the look-up and the save.
struct CacheName {
  std::string folder;  // absolute, with a trailing "/" unless empty
  std::string prefix;  // "<hex id>_<w>x<h>_<0|1>"
  std::string file;    // prefix + "_<hex mtime>.png"
};

// Throws boost::filesystem::filesystem_error when the source's modification
// time cannot be read or the folder cannot be made absolute.
CacheName MakeCacheName(QLThumbnailData const& data) {
  std::time_t const modified = boost::filesystem::last_write_time(data.path);
  CacheName name;
  if (!data.thumbnail_folder.empty()) {
    name.folder =
        boost::filesystem::absolute(data.thumbnail_folder, boost::filesystem::initial_path())
            .string();
  }
  if (!name.folder.empty() && name.folder[name.folder.size() - 1] != '/') name.folder += '/';

  std::ostringstream prefix;
  prefix << std::hex << data.resource_id << '_' << std::dec << data.width << 'x' << data.height
         << '_' << (data.full_screen ? '1' : '0');
  name.prefix = prefix.str();
  std::ostringstream file;
  file << name.prefix << '_' << std::hex << static_cast<unsigned long long>(modified) << ".png";
  name.file = file.str();
  return name;
}

// Writes all of `size` bytes; false on any error.
bool WriteAll(int fd, unsigned char const* bytes, std::uint64_t size) {
  while (size > 0) {
    ssize_t const written = write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::uint64_t>(written);
  }
  return true;
}

}  // namespace

bool QLThumbnailProvider::GetCachedThumbnail(QLThumbnailData& data) {
  CacheName name;
  try {
    name = MakeCacheName(data);
  } catch (boost::filesystem::filesystem_error const&) {
    return false;  // typically the source file is gone: a silent miss
  }
  std::string const candidate = name.folder + name.file;

  try {
    if (!boost::filesystem::exists(candidate)) {
      QL_INFO("No cached thumbnail for \"" << data.path << "\".");
      return false;
    }
    std::uintmax_t const size = boost::filesystem::file_size(candidate);
    if (size > kMaxCachedThumbnailBytes || size == 0) {
      QL_ERROR("Cannot open saved thumbnail file for \"" << data.path << "\", located in \""
                                                         << candidate << "\""
                                                         << ": unusable size " << size);
      return false;
    }
    std::ifstream in(candidate.c_str(), std::ios::in | std::ios::binary);
    boost::shared_ptr<unsigned char> bytes(new unsigned char[size], arrayDeleter<unsigned char>());
    if (in.is_open())
      in.read(reinterpret_cast<char*>(bytes.get()), static_cast<std::streamsize>(size));
    // Only bytes that really came from the file may be served.
    if (!in.is_open() || !in || static_cast<std::uintmax_t>(in.gcount()) != size) {
      QL_ERROR("Cannot open saved thumbnail file for \"" << data.path << "\", located in \""
                                                         << candidate << "\""
                                                         << ": the file could not be read in full");
      return false;
    }
    data.thumbnail = bytes;
    data.thumbnail_size = static_cast<std::int64_t>(size);
    QL_INFO("Sending cached thumbanil for \"" << data.path << "\".");
    return true;
  } catch (boost::filesystem::filesystem_error const& e) {
    QL_ERROR("Cannot open saved thumbnail file for \"" << data.path << "\", located in \""
                                                       << candidate << "\"" << e.what());
    return false;
  }
}

void QLThumbnailProvider::SaveThumbnail(QLThumbnailData& data) {
  CacheName name;
  try {
    name = MakeCacheName(data);
  } catch (boost::filesystem::filesystem_error const& e) {
    QL_ERROR("Problems when trying to obtain info from resource " << data.resource_id << ". "
                                                                  << e.what());
    return;
  }

  // Clean-up: remove the outdated thumbnails of this resource, size and mode.
  try {
    if (!name.folder.empty()) boost::filesystem::create_directories(name.folder);
    DirHolder dir(name.folder);
    if (!dir.get()) {
      QL_ERROR("Path \"" << name.folder << "\" cannot be reached.");
      return;
    }
    std::vector<std::string> outdated;
    // readdir on a DIR* of our own is thread-safe; it returns null both at
    // the end and on an error, and either ends the listing.
    while (struct dirent64* entry = readdir64(dir.get())) {
      std::string const entry_name = entry->d_name;
      if (entry_name == "." || entry_name == "..") continue;
      std::string const full_path = name.folder + entry_name;
      struct stat64 info;
      if (lstat64(full_path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
      if (entry_name.compare(0, name.prefix.size(), name.prefix) == 0) {
        outdated.push_back(full_path);
        QL_INFO("Mark for deletion: " << full_path);
      }
    }
    dir.Close();
    for (std::string const& file : outdated) boost::filesystem::remove(file);
  } catch (boost::filesystem::filesystem_error const& e) {
    QL_ERROR("Problems when trying to cleanup outdated thumbnails for \"" << data.path << "\". "
                                                                          << e.what());
    return;
  }

  // Saving: write a temporary file next to the final one and rename it into
  // place, so a reader never finds a truncated thumbnail under the final name.
  std::string const final_path = name.folder + name.file;
  try {
    if (!data.thumbnail || data.thumbnail_size <= 0) {
      QL_ERROR("Problems when trying to save thumbnail for \"" << data.path << "\". "
                                                               << "no thumbnail bytes");
      return;
    }
    std::uint64_t const size = static_cast<std::uint64_t>(data.thumbnail_size);
    std::uintmax_t const available =
        space_query_ ? space_query_(name.folder) : boost::filesystem::space(name.folder).available;
    if (available < size) {
      QL_ERROR("Unable to cache thumbnail. Insufficient disk space. Require "
               << data.thumbnail_size << " but availble only " << available << ". ");
      return;
    }

    std::string const temp_path = name.folder + kTempPrefix + name.file;
    FdHolder fd(
        open(temp_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
      QL_ERROR("Cannot open file \"" << final_path << "\" for writing.");
      return;
    }
    // fsync before the rename: freshness is decided by name alone, so a file
    // that lost its contents in a power cut would be served for as long as the
    // source stays unchanged.
    bool const written =
        WriteAll(fd.get(), static_cast<unsigned char const*>(data.thumbnail.get()), size) &&
        fsync(fd.get()) == 0;
    int const write_errno = errno;
    bool const closed = fd.Close();
    if (!written || !closed || rename(temp_path.c_str(), final_path.c_str()) != 0) {
      int const error = !written ? write_errno : errno;
      unlink(temp_path.c_str());
      QL_ERROR("Problems when trying to save thumbnail for \"" << data.path << "\". "
                                                               << std::strerror(error));
    }
  } catch (boost::filesystem::filesystem_error const& e) {
    QL_ERROR("Problems when trying to save thumbnail for \"" << data.path << "\". " << e.what());
  }
}
