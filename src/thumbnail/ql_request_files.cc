#include "thumbnail/ql_request_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem/path.hpp>
#include <cerrno>
#include <utility>

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

QLStatus QLRequestFiles::CacheFolder(bool create, int* fd) {
  // A refused folder stays refused; a missing one may be made by a save.
  bool const settled = folder_.valid() || folder_status_.kind() == QLStatus::Kind::kRefused;
  if (!settled && (folder_status_.ok() || create)) {
    folder_ = confinement_.OpenFolder(data_.thumbnail_folder, create);
    int const error = folder_.valid() ? 0 : errno;
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
