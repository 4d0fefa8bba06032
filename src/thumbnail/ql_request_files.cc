#include "thumbnail/ql_request_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem/path.hpp>
#include <cerrno>
#include <utility>

#include "log/ql_log.h"

QLRequestFiles::QLRequestFiles(QLPathConfinement const& confinement, QLThumbnailData const& data)
    : confinement_(confinement), data_(data) {
  // Special files are opened too (O_NONBLOCK: a named pipe does not wait for
  // a writer), but only a regular one is ever read.
  source_ = confinement_.Open(data_.path, QLRegularFile::kOpenFlags);
  source_error_ = source_.valid() ? 0 : errno;
  source_known_ = source_.valid() && fstat(source_.get(), &source_info_) == 0;
}

QLRegularFile QLRequestFiles::Source() const {
  if (!source_.valid()) {
    errno = source_error_;
    return QLRegularFile(data_.path, QLUniqueFd());
  }
  // A second descriptor of the very object opened, rewound: each reader of
  // the request starts at the start, one after the other.
  QLUniqueFd copy(fcntl(source_.get(), F_DUPFD_CLOEXEC, 0));
  if (copy.valid() && lseek(copy.get(), 0, SEEK_SET) != 0 && S_ISREG(source_info_.st_mode)) {
    copy.Close();
  }
  return QLRegularFile(data_.path, std::move(copy));
}

bool QLRequestFiles::SourceModified(std::time_t* modified) const {
  if (!source_known_) return false;
  *modified = source_info_.st_mtim.tv_sec;
  return true;
}

int QLRequestFiles::CacheFolder(bool create) {
  if (folder_.valid() || folder_refused_) {
    errno = folder_error_;
    return folder_.get();
  }
  if (folder_error_ != 0 && !create) {
    errno = folder_error_;
    return -1;
  }
  folder_ = confinement_.OpenFolder(data_.thumbnail_folder, create);
  folder_error_ = folder_.valid() ? 0 : errno;
  if (folder_error_ == EXDEV) {
    folder_refused_ = true;
    QL_ERROR("\"" << data_.thumbnail_folder << "\" leads outside the allowed folders; refused.");
  }
  errno = folder_error_;
  return folder_.get();
}

QLRegularFile QLRequestFiles::DefaultPicture(char const* name) const {
  std::string const path =
      (boost::filesystem::path(data_.default_thumbnail_folder) / name).string();
  return QLRegularFile(path, confinement_.Open(path, QLRegularFile::kOpenFlags));
}
