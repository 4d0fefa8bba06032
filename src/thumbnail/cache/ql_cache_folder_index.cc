#include "thumbnail/cache/ql_cache_folder_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/ql_c_resource.h"

namespace {

bool HasPrefix(std::string const& name, std::string const& prefix) {
  return name.compare(0, prefix.size(), prefix) == 0;
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
  return a.device == b.device && a.inode == b.inode && a.modified.tv_sec == b.modified.tv_sec &&
         a.modified.tv_nsec == b.modified.tv_nsec;
}

QLStatus QLCacheFolderIndex::FindPrefix(std::string const& folder, int dir,
                                        std::string const& prefix,
                                        std::vector<std::string>* names) {
  QLMutexLock lock(&mutex_);
  Clock::time_point const now = Clock::now();
  Folders::iterator const known = folders_.find(folder);
  if (known != folders_.end()) {
    FolderStamp current;
    Folder& state = known->second;
    if (Stamp(dir, &current) && SameStamp(current, state.stamp) &&
        now - state.listed_at < limits_.max_trust_age) {
      state.used_at = now;
      std::vector<std::pair<std::uint64_t, std::string const*>> found;
      for (std::map<std::string, std::uint64_t>::const_iterator it =
               state.names.lower_bound(prefix);
           it != state.names.end() && HasPrefix(it->first, prefix); ++it) {
        found.push_back(std::make_pair(it->second, &it->first));
      }
      std::sort(found.begin(), found.end());
      for (auto const& entry : found) names->push_back(*entry.second);
      Trim(now, known);
      return QLStatus();
    }
    Forget(known);
  }
  return List(folder, dir, prefix, now, names);
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
    if (HasPrefix(entry_name, prefix)) names->push_back(entry_name);
    if (keep) {
      if (fresh.names.size() >= limits_.max_names) {
        keep = false;  // too big to keep: listed on every use instead
        fresh.names.clear();
      } else {
        fresh.names.emplace(std::move(entry_name), fresh.next_order++);
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
    if (!removed.empty()) total_names_ -= state.names.erase(removed);
    if (!added.empty() && state.names.emplace(added, state.next_order).second) {
      ++state.next_order;
      ++total_names_;
    }
  }
  state.stamp = after;
  Clock::time_point const now = Clock::now();
  state.used_at = now;
  Trim(now, known);
  return ok;
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
