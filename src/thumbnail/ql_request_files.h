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
// Borrows the confinement and the record, which outlive it. Nothing here
// logs: a source or default picture that is a special file or leads out of
// the allowed folders is reported to the record (its `failures`), since the
// handlers that open them fall back without a word; the cache folder's
// status is returned to the cache, which hands it up.
#ifndef QUORLIN_THUMBNAIL_QL_REQUEST_FILES_H_
#define QUORLIN_THUMBNAIL_QL_REQUEST_FILES_H_

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "base/ql_status.h"
#include "base/ql_unique_fd.h"
#include "thumbnail/ql_path_confinement.h"
#include "thumbnail/ql_regular_file.h"
#include "thumbnail/ql_thumbnail_data.h"

class QLRequestFiles {
 public:
  // Opens the source without blocking and without reading it.
  QLRequestFiles(QLPathConfinement const& confinement, QLThumbnailData& data);
  QLRequestFiles(QLRequestFiles const&) = delete;
  QLRequestFiles& operator=(QLRequestFiles const&) = delete;

  // The source for reading, from its start, when it is a regular file; a
  // special file or a refused path is reported to the record.
  QLRegularFile Source() const;
  // The source's modification time; the failed open's status when it could
  // not be opened.
  QLStatus SourceModified(std::time_t* modified) const;

  // The cache folder's descriptor in *fd, opened on first use; with
  // `create`, the folder is made first when missing, and with `tag` as well
  // a folder made here gets a CACHEDIR.TAG. When it cannot be had, *fd is
  // -1 and the status says why (kRefused for a folder leading out of the
  // allowed folders).
  QLStatus CacheFolder(bool create, int* fd, bool tag = false);

  // The default picture `name` of the request's default folder; reported to
  // the record like the source.
  QLRegularFile DefaultPicture(char const* name) const;

 private:
  // `file`, after reporting its failure to the record when it is one the
  // handlers leave unsaid.
  QLRegularFile Checked(QLRegularFile file) const;

  QLPathConfinement const& confinement_;
  QLThumbnailData& data_;  // read, and told of failures
  QLUniqueFd source_;
  int source_error_ = 0;  // errno of the failed open or fstat
  struct stat source_info_ = {};
  bool source_known_ = false;
  QLUniqueFd folder_;
  QLStatus folder_status_;
};

#endif  // QUORLIN_THUMBNAIL_QL_REQUEST_FILES_H_
