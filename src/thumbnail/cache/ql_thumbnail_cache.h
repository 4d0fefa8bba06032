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
// SetSpaceQuery, SetMaxBytes and SetTagNewFolders are called before the
// cache serves.
//
// Size cap (SetMaxBytes, off by default): the index then tracks the sizes
// and times of each folder's cache files. A hit sets its file's
// modification time (futimens on the descriptor read; the name does not use
// it), so that time says when the entry was last made or used. A save that
// takes its folder over the cap leaves an eviction for after the reply:
// LookUp and Save only record what is to be done in the record's `upkeep`,
// and the command handler calls AfterReply once the reply is sent, with no
// lock of the provider held; it runs on the request's own thread, with the
// caller's rights, so it needs no queue of its own, no other thread waits
// for it, and a flood of requests brings at most one eviction per folder at
// a time (the index lets a second one return at once). One connection's
// requests run one after another, so its next request sees the folder
// evicted. Without a cap LookUp and Save make exactly the calls they made
// before and leave no upkeep.
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
#include "base/ql_unique_fd.h"
#include "thumbnail/cache/ql_cache_folder_index.h"
#include "thumbnail/ql_request_files.h"
#include "thumbnail/ql_thumbnail_data.h"

// The names of one cache file.
struct QLThumbnailCacheName {
  std::string folder;  // absolute, with a trailing "/" unless empty
  std::string prefix;  // CacheFilePrefix (protocol/ql_cache_file_name.h)
  std::string file;    // CacheFileName
};

// What a request leaves for after its reply, with a size cap: a hit's new
// time for the index, or the eviction of a folder a save took over the cap.
struct QLCacheUpkeep {
  std::string folder;  // absolute, as the index names it
  std::string file;    // the file hit, or the file just saved (never evicted)
  bool hit = false;
  struct timespec used = {0, 0};  // a hit: the file's new modification time
  QLUniqueFd dir;                 // an eviction: the folder, still open
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
  // allowed ones; kInvalid: not a regular PNG file of a sane size). With a
  // cap, a hit also sets the file's modification time to now and leaves the
  // record an upkeep (a file the caller may not change keeps its time).
  QLStatus LookUp(QLThumbnailData& data, QLRequestFiles& files);

  // Stores the record's thumbnail under its cache name: opens (or makes) the
  // folder, then RemoveOutdated, then SaveAtomically; the first failure ends
  // the save and is returned. With a cap, a save that leaves the folder's
  // cache files over it leaves the record an upkeep.
  QLStatus Save(QLThumbnailData& data, QLRequestFiles& files);

  // Does the record's upkeep: notes a hit's time in the index, or removes
  // the folder's least recently used cache files (never the one just
  // saved) until they take at most 90% of the cap. Call after the reply is
  // sent, with no provider lock held. The failure of a removal is returned.
  QLStatus AfterReply(QLCacheUpkeep& upkeep);

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

  // The cap on each folder's cache files, in bytes; 0 (the default): none.
  void SetMaxBytes(std::uint64_t bytes);

  // Whether a folder a save makes gets a CACHEDIR.TAG; off by default.
  void SetTagNewFolders(bool tag) { tag_new_folders_ = tag; }

  // What the cache knows of its folders.
  QLCacheFolderIndex const& folder_index() const { return index_; }

 private:
  QLCacheFolderIndex index_;
  SpaceQuery space_query_;
  std::uint64_t max_bytes_ = 0;
  bool tag_new_folders_ = false;
};

#endif  // QUORLIN_THUMBNAIL_CACHE_QL_THUMBNAIL_CACHE_H_
