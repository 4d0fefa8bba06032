#include "thumbnail/cache/ql_cache_folder_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <tuple>
#include <utility>

#include "base/ql_c_resource.h"
#include "protocol/ql_cache_file_name.h"

namespace {

bool HasPrefix(std::string const& name, std::string const& prefix) {
  return name.compare(0, prefix.size(), prefix) == 0;
}

bool SameTime(struct timespec const& a, struct timespec const& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

QLCacheFolderIndex::QLCacheFolderIndex() : limits_(Limits()) {}

QLCacheFolderIndex::QLCacheFolderIndex(Limits const& limits) : limits_(limits) {}

bool QLCacheFolderIndex::Stamp(int dir, FolderStamp* stamp) {
  struct stat info;
  if (fstat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  stamp->device = info.st_dev;
  stamp->inode = info.st_ino;
  stamp->modified = info.st_mtim;
  return true;
}

bool QLCacheFolderIndex::SameStamp(FolderStamp const& a, FolderStamp const& b) {
  return a.device == b.device && a.inode == b.inode && SameTime(a.modified, b.modified);
}

QLCacheFolderIndex::Folders::iterator QLCacheFolderIndex::Trusted(std::string const& folder,
                                                                  int dir, Clock::time_point now) {
  Folders::iterator const known = folders_.find(folder);
  if (known == folders_.end()) return known;
  FolderStamp current;
  if (Stamp(dir, &current) && SameStamp(current, known->second.stamp) &&
      now - known->second.listed_at < limits_.max_trust_age) {
    return known;
  }
  Forget(known);
  return folders_.end();
}

QLStatus QLCacheFolderIndex::FindPrefix(std::string const& folder, int dir,
                                        std::string const& prefix,
                                        std::vector<std::string>* names) {
  QLMutexLock lock(&mutex_);
  Clock::time_point const now = Clock::now();
  Folders::iterator const known = Trusted(folder, dir, now);
  if (known == folders_.end()) return List(folder, dir, prefix, now, names);
  Folder& state = known->second;
  state.used_at = now;
  std::vector<std::pair<std::uint64_t, std::string const*>> found;
  for (std::map<std::string, Name>::const_iterator it = state.names.lower_bound(prefix);
       it != state.names.end() && HasPrefix(it->first, prefix); ++it) {
    found.push_back(std::make_pair(it->second.order, &it->first));
  }
  std::sort(found.begin(), found.end());
  for (auto const& entry : found) names->push_back(*entry.second);
  Trim(now, known);
  return QLStatus();
}

QLStatus QLCacheFolderIndex::List(std::string const& folder, int folder_fd,
                                  std::string const& prefix, Clock::time_point now,
                                  std::vector<std::string>* names) {
  FolderStamp before;
  bool keep = Stamp(folder_fd, &before);
  // A descriptor of its own for the listing, which closedir takes; it shares
  // the position of `folder_fd`, so the listing starts from the beginning.
  int const listed = fcntl(folder_fd, F_DUPFD_CLOEXEC, 0);
  QLUniqueDir dir(listed >= 0 ? fdopendir(listed) : nullptr);
  if (!dir.get()) {
    int const error = errno;
    if (listed >= 0) close(listed);
    return QLPosixError(folder, "", error);
  }
  rewinddir(dir.get());
  ++listings_;

  // The listing must stay unchanged while it is read, or the names cannot
  // stand for the folder later.
  FolderStamp opened = before;
  struct stat info;

  Folder fresh;
  for (;;) {
    errno = 0;
    struct dirent64* entry = readdir64(dir.get());
    if (!entry) {
      if (errno != 0) keep = false;  // a listing cut short is used, never kept
      break;
    }
    char const* const name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    std::string entry_name(name);
    if (names && HasPrefix(entry_name, prefix)) names->push_back(entry_name);
    if (keep) {
      if (fresh.names.size() >= limits_.max_names) {
        keep = false;  // too big to keep: listed on every use instead
        fresh.names.clear();
      } else {
        Name& added = fresh.names[entry_name];
        added.order = fresh.next_order++;
        Count(fresh, dirfd(dir.get()), entry_name, added);
      }
    }
  }
  if (keep && fstat(dirfd(dir.get()), &info) == 0) {
    opened.modified = info.st_mtim;
    keep = SameStamp(before, opened);
  } else {
    keep = false;
  }
  if (!keep || limits_.max_folders == 0) return QLStatus();

  fresh.stamp = before;
  fresh.listed_at = now;
  fresh.used_at = now;
  total_names_ += fresh.names.size();
  Folders::iterator const stored = folders_.emplace(folder, std::move(fresh)).first;
  Trim(now, stored);
  return QLStatus();
}

bool QLCacheFolderIndex::Apply(std::string const& folder, int dir, std::string const& removed,
                               std::string const& added, std::function<bool()> const& change) {
  QLMutexLock lock(&mutex_);
  Folders::iterator const known = folders_.find(folder);
  if (known == folders_.end()) return change();
  return ApplyKnown(known, dir, removed, added, change);
}

bool QLCacheFolderIndex::ApplyKnown(Folders::iterator known, int dir, std::string const& removed,
                                    std::string const& added, std::function<bool()> const& change) {
  FolderStamp before;
  if (!Stamp(dir, &before) || !SameStamp(before, known->second.stamp)) {
    // Someone else changed the folder since we last looked: start afresh.
    Forget(known);
    return change();
  }
  bool ok;
  try {
    ok = change();
  } catch (...) {
    Forget(known);
    throw;
  }
  FolderStamp after;
  if (!Stamp(dir, &after) || after.device != before.device || after.inode != before.inode ||
      (!ok && !SameStamp(after, before))) {
    Forget(known);
    return ok;
  }
  Folder& state = known->second;
  if (ok) {
    if (!removed.empty()) {
      std::map<std::string, Name>::iterator const gone = state.names.find(removed);
      if (gone != state.names.end()) {
        Uncount(state, gone->second);
        state.names.erase(gone);
        --total_names_;
      }
    }
    if (!added.empty()) {
      std::pair<std::map<std::string, Name>::iterator, bool> const slot =
          state.names.emplace(added, Name());
      if (slot.second) {
        slot.first->second.order = state.next_order++;
        ++total_names_;
      }
      // A rename may replace a file of that name: its size goes with it.
      Uncount(state, slot.first->second);
      Count(state, dir, added, slot.first->second);
    }
  }
  state.stamp = after;
  Clock::time_point const now = Clock::now();
  state.used_at = now;
  Trim(now, known);
  return ok;
}

void QLCacheFolderIndex::Count(Folder& state, int dir, std::string const& name, Name& entry) {
  if (!track_) return;
  QLCacheEntryKey key;
  std::int64_t modified = 0;
  struct stat info;
  if (!ParseCacheFileName(name, &key, &modified) ||
      fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
    return;
  }
  entry.counted = true;
  entry.bytes = static_cast<std::uint64_t>(info.st_size);
  entry.used = info.st_mtim;
  state.cache_bytes += entry.bytes;
}

void QLCacheFolderIndex::Uncount(Folder& state, Name& entry) {
  if (!entry.counted) return;
  state.cache_bytes -= entry.bytes;
  entry.counted = false;
  entry.bytes = 0;
}

void QLCacheFolderIndex::TrackCacheFiles(bool on) {
  QLMutexLock lock(&mutex_);
  if (track_ == on) return;
  track_ = on;
  folders_.clear();
  total_names_ = 0;
}

bool QLCacheFolderIndex::CacheBytes(std::string const& folder, std::uint64_t* bytes) const {
  QLMutexLock lock(&mutex_);
  Folders::const_iterator const known = folders_.find(folder);
  if (!track_ || known == folders_.end()) return false;
  *bytes = known->second.cache_bytes;
  return true;
}

void QLCacheFolderIndex::Touch(std::string const& folder, std::string const& name,
                               struct timespec used) {
  QLMutexLock lock(&mutex_);
  Folders::iterator const known = folders_.find(folder);
  if (known == folders_.end()) return;
  std::map<std::string, Name>::iterator const entry = known->second.names.find(name);
  if (entry != known->second.names.end() && entry->second.counted) entry->second.used = used;
}

QLStatus QLCacheFolderIndex::Evict(std::string const& folder, int dir, std::uint64_t target,
                                   std::string const& keep, Eviction* done) {
  struct Victim {
    std::string name;
    struct timespec used;
    std::uint64_t bytes;
  };
  // The folder is given back whichever way this ends (after the lock of the
  // block that claims it is released).
  struct Claim {
    QLCacheFolderIndex* index;
    std::string const& folder;
    bool held;
    ~Claim() {
      if (!held) return;
      QLMutexLock lock(&index->mutex_);
      index->evicting_.erase(folder);
    }
  } claim{this, folder, false};
  std::vector<Victim> victims;
  {
    QLMutexLock lock(&mutex_);
    if (!track_ || !evicting_.insert(folder).second) return QLStatus();
    claim.held = true;
    Clock::time_point const now = Clock::now();
    Folders::iterator known = Trusted(folder, dir, now);
    if (known == folders_.end()) {
      QLStatus const listed = List(folder, dir, std::string(), now, nullptr);
      known = folders_.find(folder);
      if (!listed.ok() || known == folders_.end()) return listed;
    }
    Folder const& state = known->second;
    // Oldest time first; among equal times (coarse clocks), the first made.
    typedef std::tuple<std::time_t, long, std::uint64_t,
                       std::map<std::string, Name>::const_iterator>
        Age;
    std::vector<Age> ages;
    for (std::map<std::string, Name>::const_iterator it = state.names.begin();
         it != state.names.end(); ++it) {
      if (!it->second.counted || it->first == keep) continue;
      ages.emplace_back(it->second.used.tv_sec, it->second.used.tv_nsec, it->second.order, it);
    }
    std::sort(ages.begin(), ages.end(), [](Age const& a, Age const& b) {
      return std::make_tuple(std::get<0>(a), std::get<1>(a), std::get<2>(a)) <
             std::make_tuple(std::get<0>(b), std::get<1>(b), std::get<2>(b));
    });
    std::uint64_t left = state.cache_bytes;
    for (Age const& age : ages) {
      if (left <= target) break;
      Name const& entry = std::get<3>(age)->second;
      victims.push_back(Victim{std::get<3>(age)->first, entry.used, entry.bytes});
      left -= entry.bytes;
    }
  }
  // One file per lock, so nobody waits for the whole eviction.
  QLStatus status;
  for (Victim const& victim : victims) {
    QLMutexLock lock(&mutex_);
    Folders::iterator const known = folders_.find(folder);
    if (known == folders_.end() || known->second.cache_bytes <= target) break;
    std::map<std::string, Name>::iterator const entry = known->second.names.find(victim.name);
    if (entry == known->second.names.end() || !entry->second.counted ||
        entry->second.bytes != victim.bytes || !SameTime(entry->second.used, victim.used)) {
      continue;  // made again since it was chosen
    }
    // A hit sets the file's time before its reply and tells the index only
    // after: the file itself has the last word.
    struct stat info;
    if (fstatat(dir, victim.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !SameTime(info.st_mtim, victim.used)) {
      entry->second.used = info.st_mtim;
      continue;
    }
    int error = 0;
    bool const removed = ApplyKnown(known, dir, victim.name, std::string(), [&] {
      if (unlinkat(dir, victim.name.c_str(), 0) == 0 || errno == ENOENT) return true;
      error = errno;
      return false;
    });
    if (error != 0) {
      status = QLPosixError(folder + victim.name, "", error);
      break;
    }
    if (removed) {
      ++done->files;
      done->bytes += victim.bytes;
    }
  }
  return status;
}

void QLCacheFolderIndex::Forget(Folders::iterator folder) {
  total_names_ -= folder->second.names.size();
  folders_.erase(folder);
}

void QLCacheFolderIndex::Trim(Clock::time_point now, Folders::iterator keep) {
  for (Folders::iterator it = folders_.begin(); it != folders_.end();) {
    Folders::iterator const current = it++;
    if (current != keep && now - current->second.used_at >= limits_.idle_drop) Forget(current);
  }
  while (folders_.size() > limits_.max_folders || total_names_ > limits_.max_names) {
    Folders::iterator oldest = folders_.end();
    for (Folders::iterator it = folders_.begin(); it != folders_.end(); ++it) {
      if (it == keep) continue;
      if (oldest == folders_.end() || it->second.used_at < oldest->second.used_at) oldest = it;
    }
    if (oldest == folders_.end()) {
      Forget(keep);  // the folder in use alone is over budget
      return;
    }
    Forget(oldest);
  }
}

std::uint64_t QLCacheFolderIndex::listings() const {
  QLMutexLock lock(&mutex_);
  return listings_;
}

std::size_t QLCacheFolderIndex::folder_count() const {
  QLMutexLock lock(&mutex_);
  return folders_.size();
}

std::size_t QLCacheFolderIndex::name_count() const {
  QLMutexLock lock(&mutex_);
  return total_names_;
}
