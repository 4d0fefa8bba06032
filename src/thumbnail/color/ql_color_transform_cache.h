// The transforms built so far, keyed by the profile's bytes and the kind of
// samples, so a folder of photos from one camera builds its transform once.
//
// Bounded: at most kMaxEntries transforms and kMaxKeyBytes of profile bytes
// are kept, the least recently used going first; a transform in use stays
// alive with its users (shared ownership) after it left the cache. A
// profile that cannot be used is remembered with its reason like a
// transform, so a folder of broken files does not parse it again and again.
//
// Contract: any thread may call Get; `mutex_` guards `entries_` and
// `key_bytes_`. Transforms are built outside the lock; two threads meeting
// the same new profile may both build it, and the first one stored wins.
#ifndef QUORLIN_THUMBNAIL_COLOR_QL_COLOR_TRANSFORM_CACHE_H_
#define QUORLIN_THUMBNAIL_COLOR_QL_COLOR_TRANSFORM_CACHE_H_

#include <cstddef>
#include <list>
#include <memory>
#include <string>

#include "base/ql_mutex.h"
#include "base/ql_thread_annotations.h"
#include "thumbnail/color/ql_color_transform.h"

class QLColorTransformCache {
 public:
  static constexpr std::size_t kMaxEntries = 16;
  static constexpr std::size_t kMaxKeyBytes = 16u << 20;

  // The transform of `icc` for `input`; null with the reason in `*problem`
  // when the profile is unusable.
  std::shared_ptr<QLColorTransform const> Get(std::string const& icc, QLColorTransform::Input input,
                                              std::string* problem) EXCLUDES(mutex_);
  std::size_t size() const EXCLUDES(mutex_);

 private:
  struct Entry {
    std::string icc;
    QLColorTransform::Input input;
    std::shared_ptr<QLColorTransform const> transform;  // null: unusable
    std::string problem;
  };

  QLMutex mutable mutex_;
  std::list<Entry> entries_ GUARDED_BY(mutex_);  // most recently used first
  std::size_t key_bytes_ GUARDED_BY(mutex_) = 0;
};

// The cache the daemon's requests share.
QLColorTransformCache& ProcessColorTransforms();

#endif  // QUORLIN_THUMBNAIL_COLOR_QL_COLOR_TRANSFORM_CACHE_H_
