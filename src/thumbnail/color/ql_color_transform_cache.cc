#include "thumbnail/color/ql_color_transform_cache.h"

#include <utility>

std::shared_ptr<QLColorTransform const> QLColorTransformCache::Get(std::string const& icc,
                                                                   QLColorTransform::Input input,
                                                                   std::string* problem) {
  {
    QLMutexLock lock(&mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->input == input && it->icc == icc) {
        entries_.splice(entries_.begin(), entries_, it);
        *problem = it->problem;
        return it->transform;
      }
    }
  }
  Entry entry{icc, input, QLColorTransform::Build(icc, input, problem), std::string()};
  if (!entry.transform) entry.problem = *problem;
  std::shared_ptr<QLColorTransform const> const built = entry.transform;
  QLMutexLock lock(&mutex_);
  for (Entry const& present : entries_) {
    if (present.input == input && present.icc == icc) {
      *problem = present.problem;
      return present.transform;
    }
  }
  key_bytes_ += icc.size();
  entries_.push_front(std::move(entry));
  while (entries_.size() > kMaxEntries || (key_bytes_ > kMaxKeyBytes && entries_.size() > 1)) {
    key_bytes_ -= entries_.back().icc.size();
    entries_.pop_back();
  }
  return built;
}

std::size_t QLColorTransformCache::size() const {
  QLMutexLock lock(&mutex_);
  return entries_.size();
}

QLColorTransformCache& ProcessColorTransforms() {
  static QLColorTransformCache cache;
  return cache;
}
