#include "thumbnail/ql_request_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem/path.hpp>
#include <cerrno>
#include <cstring>
#include <utility>

#include "protocol/ql_cache_file_name.h"

QLRequestFiles::QLRequestFiles(QLPathConfinement const& confinement, QLThumbnailData& data)
    : confinement_(confinement), data_(data) {
  // Special files are opened too (O_NONBLOCK: a named pipe does not wait for
  // a writer), but only a regular one is ever read.
  source_ = confinement_.Open(data_.path, QLRegularFile::kOpenFlags);
  source_error_ = source_.valid() ? 0 : errno;
  source_known_ = source_.valid() && fstat(source_.get(), &source_info_) == 0;
  if (source_.valid() && !source_known_) source_error_ = errno;
}

QLRegularFile QLRequestFiles::Source() const {
  if (!source_.valid()) {
    errno = source_error_;
    return Checked(QLRegularFile(data_.path, QLUniqueFd()));
  }
  // A second descriptor of the very object opened, rewound: each reader of
  // the request starts at the start, one after the other.
  QLUniqueFd copy(fcntl(source_.get(), F_DUPFD_CLOEXEC, 0));
  if (copy.valid() && lseek(copy.get(), 0, SEEK_SET) != 0 && S_ISREG(source_info_.st_mode)) {
    copy.Close();
  }
  return Checked(QLRegularFile(data_.path, std::move(copy)));
}

QLStatus QLRequestFiles::SourceModified(std::time_t* modified) const {
  if (!source_known_) return QLPosixError(data_.path, "", source_error_);
  *modified = source_info_.st_mtim.tv_sec;
  return QLStatus();
}

// Marks a folder the daemon has just made as a cache, for backup tools. The
// tag is a courtesy: when it cannot be written (a full disk), the folder
// serves as well without it, so a failure only removes what was begun.
static void TagCacheFolder(int dir) {
  QLUniqueFd tag(
      openat(dir, kCacheDirTagName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!tag.valid()) return;
  std::size_t const size = std::strlen(kCacheDirTagContent);
  if (write(tag.get(), kCacheDirTagContent, size) != static_cast<ssize_t>(size)) {
    unlinkat(dir, kCacheDirTagName, 0);
  }
}

QLStatus QLRequestFiles::CacheFolder(bool create, int* fd, bool tag) {
  // A refused folder stays refused; a missing one may be made by a save.
  bool const settled = folder_.valid() || folder_status_.kind() == QLStatus::Kind::kRefused;
  if (!settled && (folder_status_.ok() || create)) {
    bool created = false;
    folder_ = confinement_.OpenFolder(data_.thumbnail_folder, create, &created);
    int const error = folder_.valid() ? 0 : errno;
    if (created && tag) TagCacheFolder(folder_.get());
    std::string const& folder = data_.thumbnail_folder;
    folder_status_ =
        error == 0
            ? QLStatus()
            : QLPosixError(folder,
                           error == EXDEV
                               ? "\"" + folder + "\" leads outside the allowed folders; refused."
                               : "",
                           error);
  }
  *fd = folder_.get();
  return folder_status_;
}

QLRegularFile QLRequestFiles::DefaultPicture(char const* name) const {
  std::string const path =
      (boost::filesystem::path(data_.default_thumbnail_folder) / name).string();
  return Checked(QLRegularFile(path, confinement_.Open(path, QLRegularFile::kOpenFlags)));
}

QLRegularFile QLRequestFiles::Checked(QLRegularFile file) const {
  if (file.reported()) data_.Report(file.status());
  return file;
}
