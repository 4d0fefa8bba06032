// The file-system objects of one request: its source file, its cache folder
// and its default pictures, each opened once, inside the path confinement and
// with the rights of the thread that opens them (the caller's, see
// base/ql_fs_identity.h), after the request has taken its lock or job slot.
// From then on the request works on these descriptors, never on a name
// looked up again: the cache name carries the modification time of the very
// file that is decoded, and the cache files are read, written, renamed and
// removed inside the very folder that was opened (openat and friends).
//
// Contract: made and used by the one thread handling the request (through
// QLThumbnailProvider::FilesOf); owns its descriptors until destroyed.
// Borrows the confinement and the record, which outlive it.
#ifndef QUORLIN_THUMBNAIL_QL_REQUEST_FILES_H_
#define QUORLIN_THUMBNAIL_QL_REQUEST_FILES_H_

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "base/ql_unique_fd.h"
#include "thumbnail/ql_path_confinement.h"
#include "thumbnail/ql_regular_file.h"
#include "thumbnail/ql_thumbnail_data.h"

class QLRequestFiles {
 public:
  // Opens the source without blocking and without reading it.
  QLRequestFiles(QLPathConfinement const& confinement, QLThumbnailData const& data);
  QLRequestFiles(QLRequestFiles const&) = delete;
  QLRequestFiles& operator=(QLRequestFiles const&) = delete;

  // The source for reading, from its start, when it is a regular file; a
  // special file or a refused path has its ERROR line then (QLRegularFile).
  QLRegularFile Source() const;
  // The source's modification time; false when it could not be opened.
  bool SourceModified(std::time_t* modified) const;

  // The cache folder's descriptor, opened on first use; with `create`, the
  // folder is made first when missing. -1 with errno when it cannot be had.
  // A folder leading out of the allowed folders gets one ERROR line.
  int CacheFolder(bool create);

  // The default picture `name` of the request's default folder.
  QLRegularFile DefaultPicture(char const* name) const;

 private:
  QLPathConfinement const& confinement_;
  QLThumbnailData const& data_;
  QLUniqueFd source_;
  int source_error_ = 0;
  struct stat source_info_ = {};
  bool source_known_ = false;
  QLUniqueFd folder_;
  int folder_error_ = 0;
  bool folder_refused_ = false;
};

#endif  // QUORLIN_THUMBNAIL_QL_REQUEST_FILES_H_
