// QLThumbnailCache: the thumbnail cache of QLThumbnailProvider, one PNG file
// per resource, size and scaling mode in a flat folder named by the request.
// A file is fresh exactly when its name carries the source file's current
// modification time.
//
// Contract: one cache belongs to one provider, which calls LookUp and Save
// (and through Save, RemoveOutdated and SaveAtomically) under the provider
// lock or, with parallel jobs, under the lock of the request's cache entry
// (named by EntryKey); different entries of one folder may be saved at the
// same time. The clean-up finds outdated files through the folder index,
// which has its own mutex, instead of listing the folder on every save; the
// index notices changes made by others and lists again. Nothing guards
// against other processes changing the folder, so every file-system step
// expects to fail and turns the failure into a miss or a skipped save.
// Every step works on the request's opened objects (QLRequestFiles): the
// source's time is that of the file opened, and the folder's files are
// reached through the folder's descriptor, never following a symlink at the
// entry's own name. A cache file is trusted with nothing: it is served only
// when it is a regular file of a sane size that starts like a PNG.
// SetSpaceQuery is called before the cache serves.
// Failures are returned as statuses worded as the log shows them; the cache
// logs only its progress (hit, miss, files marked for deletion), and the
// command handler logs the failures the provider hands it.
#ifndef QUORLIN_THUMBNAIL_CACHE_QL_THUMBNAIL_CACHE_H_
#define QUORLIN_THUMBNAIL_CACHE_QL_THUMBNAIL_CACHE_H_

#include <boost/noncopyable.hpp>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "base/ql_status.h"
#include "thumbnail/cache/ql_cache_folder_index.h"
#include "thumbnail/ql_request_files.h"
#include "thumbnail/ql_thumbnail_data.h"

// The names of one cache file.
struct QLThumbnailCacheName {
  std::string folder;  // absolute, with a trailing "/" unless empty
  std::string prefix;  // CacheFilePrefix (protocol/ql_cache_file_name.h)
  std::string file;    // CacheFileName
};

class QLThumbnailCache : private boost::noncopyable {
 public:
  // Bytes available to unprivileged users on the file system holding a folder.
  typedef std::function<std::uintmax_t(std::string const& folder)> SpaceQuery;

  QLThumbnailCache();

  // The names of the record's cache file, for a source modified at
  // `modified`; fails when the folder cannot be made absolute.
  static QLStatus MakeName(QLThumbnailData const& data, std::time_t modified,
                           QLThumbnailCacheName* name);

  // Names the cache entry a request reads and writes: absolute folder and
  // file-name prefix. Never touches the file system.
  static std::string EntryKey(QLThumbnailData const& data);

  // Ok when a fresh cache file exists and was read whole into the record's
  // thumbnail and thumbnail_size. kNotFound is the plain miss (no such file,
  // or no source to name one by); any other kind is a miss whose cache file
  // or folder could not be used (kRefused: the folder leads out of the
  // allowed ones; kInvalid: not a regular PNG file of a sane size).
  QLStatus LookUp(QLThumbnailData& data, QLRequestFiles& files);

  // Stores the record's thumbnail under its cache name: opens (or makes) the
  // folder, then RemoveOutdated, then SaveAtomically; the first failure ends
  // the save and is returned.
  QLStatus Save(QLThumbnailData const& data, QLRequestFiles& files);

  // Removes the files of the same prefix (other source times) from the
  // folder opened as `dir` (Save opens it, making it when missing);
  // directories stay. Fails when the folder cannot be listed or a removal
  // fails: then nothing may be saved.
  QLStatus RemoveOutdated(QLThumbnailData const& data, QLThumbnailCacheName const& name, int dir);

  // Writes the thumbnail to a temporary file in the folder opened as `dir`,
  // syncs it and renames it to the final name (replacing whatever has that
  // name, a symlink included, never following it), when the folder's file
  // system has room for it (else kNoSpace); on any failure no file is left
  // under either name.
  QLStatus SaveAtomically(QLThumbnailData const& data, QLThumbnailCacheName const& name, int dir);

  // Replaces the free-space query (tests put the boundary where they want it).
  void SetSpaceQuery(SpaceQuery query) { space_query_ = query; }

  // What the cache knows of its folders.
  QLCacheFolderIndex const& folder_index() const { return index_; }

 private:
  QLCacheFolderIndex index_;
  SpaceQuery space_query_;
};

#endif  // QUORLIN_THUMBNAIL_CACHE_QL_THUMBNAIL_CACHE_H_
