// Turns one request record into PNG thumbnail bytes: cache look-up, dispatch
// by file extension to a format or default-picture handler, resize and
// orientation, cache write.
//
// One provider serves the whole process (it is a member of QLGDHelper).
// With options().jobs == 0, GetThumbnailFor holds `mutex_` for its whole run,
// so the cache, the handlers and the resize step of all connections run one
// at a time. With jobs == N >= 1 it holds instead the lock of its cache entry
// (folder, resource, size, mode) from look-up to save, and one of N job slots
// while it generates, so at most N decodes are in memory and two requests
// for the same entry never race on its files. The handlers, ResizeImage and
// the cache operations are only ever called from inside GetThumbnailFor (or
// by tests on a provider of their own) and share no mutable state but the
// cache index, which has its own mutex. The handler table and the options
// are set before serving and only read afterwards. With options().lock_wait_ms
// > 0 each of those waits is bounded: a request that runs out of time gets
// false (the failure reply) and one ERROR line. With a cache size cap,
// AfterReply runs outside all of these locks, after the reply.
#ifndef QUORLIN_THUMBNAIL_QL_THUMBNAIL_PROVIDER_H_
#define QUORLIN_THUMBNAIL_QL_THUMBNAIL_PROVIDER_H_

#include <gd.h>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "thumbnail/cache/ql_cache_entry_locks.h"
#include "thumbnail/cache/ql_thumbnail_cache.h"
#include "thumbnail/decode/ql_format_handlers.h"
#include "thumbnail/ql_background_gate.h"
#include "thumbnail/ql_job_slots.h"
#include "thumbnail/ql_path_confinement.h"
#include "thumbnail/ql_request_files.h"
#include "thumbnail/ql_thumbnail_data.h"
#include "thumbnail/ql_thumbnail_options.h"

class QLThumbnailProvider : private boost::noncopyable {
 public:
  typedef bool (QLThumbnailProvider::*Handler)(QLThumbnailData&);
  typedef std::map<std::string, Handler> HandlerTable;
  // Bytes available to unprivileged users on the file system holding a folder.
  // Replaceable so tests can put the free-space boundary where they want it.
  typedef QLThumbnailCache::SpaceQuery SpaceQuery;

  QLThumbnailProvider();
  ~QLThumbnailProvider();

  // Fills data.thumbnail/thumbnail_size and returns true, or returns false
  // when not even a default picture could be produced.
  bool GetThumbnailFor(QLThumbnailData& data);

  // Cache (QLThumbnailCache), with its statuses. GetThumbnailFor adds their
  // failures (a plain miss is none) to the record's `failures`; it never logs them.
  QLStatus GetCachedThumbnail(QLThumbnailData& data) { return cache_.LookUp(data, FilesOf(data)); }
  QLStatus SaveThumbnail(QLThumbnailData& data) { return cache_.Save(data, FilesOf(data)); }
  // The cache's work left for after the reply (QLThumbnailCache::AfterReply):
  // called by the command handler once the reply is sent, holding no lock of
  // the provider; nothing to do without an upkeep in the record.
  QLStatus AfterReply(QLThumbnailData& data) {
    return data.upkeep ? cache_.AfterReply(*data.upkeep) : QLStatus();
  }
  void SetSpaceQuery(SpaceQuery query) { cache_.SetSpaceQuery(query); }

  // ResizeImage (ql_image_resize.h) with the provider's options.
  bool ResizeImage(boost::shared_ptr<gdImageStruct> image, QLThumbnailData& data, int orientation);
  bool ResizeImage(boost::shared_ptr<gdImageStruct> image, QLThumbnailData& data, int orientation,
                   int original_width, int original_height);

  // Format handlers: true when the record holds a finished thumbnail. Each
  // runs the handler of the same name (decode/ql_format_handlers.h) with
  // the options and the request's files.
  bool HandleImgJpg(QLThumbnailData& data);
  bool HandleImgPng(QLThumbnailData& data);
  bool HandleImgGif(QLThumbnailData& data);
  bool HandleImgBmp(QLThumbnailData& data);
  bool HandleImgWBMP(QLThumbnailData& data);
  bool HandleAudioMp3(QLThumbnailData& data);
  // With --formats extended only; a failure falls back to the image or
  // video default picture.
  bool HandleImgHeif(QLThumbnailData& data);
  bool HandleImgAvif(QLThumbnailData& data);
  bool HandleImgWebp(QLThumbnailData& data);
  bool HandleImgTiff(QLThumbnailData& data);
  bool HandleImgCameraRaw(QLThumbnailData& data);
  bool HandleVideoFrame(QLThumbnailData& data);
  bool HandleImgJxl(QLThumbnailData& data);  // falls back to the image picture
  bool HandleDocPdf(QLThumbnailData& data);  // falls back to the document picture
  // Default-picture handlers: never leave save_to_cache set.
  bool HandleImgGeneric(QLThumbnailData& data);
  bool HandleAudioGeneric(QLThumbnailData& data);
  bool HandleVideoGeneric(QLThumbnailData& data);
  bool HandleDoc(QLThumbnailData& data);
  bool HandleUnknown(QLThumbnailData& data);

  HandlerTable const& handlers() const { return handlers_; }

  // The request's files (QLRequestFiles), opened inside the confinement on
  // first use; GetThumbnailFor opens them once it holds its lock or slot and
  // closes them before it returns.
  QLRequestFiles& FilesOf(QLThumbnailData& data);
  // Set before the provider serves, like the options.
  void SetConfinement(QLPathConfinement const& confinement) { confinement_ = confinement; }

  // Set before the provider serves; read-only afterwards. Rebuilds the
  // handler table for options.formats.
  void SetOptions(QLThumbnailOptions const& options);
  QLThumbnailOptions const& options() const { return options_; }

  // What the cache knows of its folders (for tests and benchmarks).
  QLCacheFolderIndex const& cache_index() const { return cache_.folder_index(); }
  // The job slots, or null when jobs == 0 (for tests).
  QLJobSlots const* job_slots() const { return job_slots_.get(); }

 private:
  // Cache look-up, then on a miss dispatch, generation (inside a job slot
  // when `slots` is not null) and save. The caller holds the right lock.
  bool ProduceThumbnail(QLThumbnailData& data, QLJobSlots* slots);
  // The handler table of `formats`.
  static HandlerTable BuildHandlerTable(QLThumbnailOptions::Formats formats);
  // What the handlers get of the provider for one request.
  QLHandlerContext ContextFor(QLThumbnailData& data) {
    return QLHandlerContext{options_, FilesOf(data)};
  }
  // Logs that the request waited options_.lock_wait_ms for `what`; false.
  bool GiveUpWaiting(QLThumbnailData const& data, char const* what) const;

  HandlerTable handlers_;
  boost::recursive_timed_mutex mutex_;  // the provider lock, held by GetThumbnailFor
  QLBackgroundGate background_gate_;    // in front of mutex_, used when options_.jobs == 0
  QLThumbnailOptions options_;
  QLPathConfinement confinement_;
  QLThumbnailCache cache_;                 // shared by all jobs
  QLCacheEntryLocks entry_locks_;          // used when options_.jobs >= 1
  std::unique_ptr<QLJobSlots> job_slots_;  // made by SetOptions when jobs >= 1
};

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_PROVIDER_H_
