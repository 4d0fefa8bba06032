// What the cache folders hold, kept in memory, so that saving a thumbnail
// into a folder of 100,000 files does not list and examine every one of them
// to find the few outdated files of one resource, size and mode.
//
// Trust: the names of a folder are used only while the folder's modification
// time (to the nanosecond), device and inode are exactly what this index
// recorded after the last change it knows of: its own listing, or a change
// made through Apply(). Anything else that touched the folder (another
// process adding or removing files, the folder being replaced) shows as a
// different time and the folder is listed again. A listing is also repeated
// once it is older than `max_trust_age`, which bounds how long a change the
// file system could not time apart from ours (file systems with coarse
// timestamps) goes unnoticed.
//
// Memory: at most `max_folders` folders and `max_names` names in all; the
// least recently used folders are dropped first, folders unused for
// `idle_drop` are dropped, and a folder too big for the budget is simply not
// kept (it is listed on every use, as if there were no index).
//
// Sizes, for a cache with a size cap (TrackCacheFiles): every name that
// ParseCacheFileName accepts and that is a regular file is then also known
// by its size and modification time (one fstatat per such name when the
// folder is listed, one per name added through Apply), and each folder by
// the sum of those sizes. Other names (temporary files, anything an
// administrator put there) count for nothing and are never evicted. A
// re-listing rebuilds the sums from what it finds; Touch() records a hit's
// new time. A folder the index does not keep has no sum: it is not capped.
// Without tracking the index makes exactly the calls it made before.
//
// Threads: every member may be called from any thread. `mutex_` guards all
// state and is held across a listing and across the single file-system call
// passed to Apply(), so the time recorded after a change is the time of that
// change. Evict() takes it once to choose (one pass over the folder's names
// and a sort of its cache files) and then once per file it removes, so a
// concurrent save waits for the choice or one unlinkat, never for a whole
// eviction (the cache's look-ups do not call the index before their reply).
// Callers hold no lock of this index when calling it. Failures are returned
// as statuses, never logged here.
#ifndef QUORLIN_THUMBNAIL_CACHE_QL_CACHE_FOLDER_INDEX_H_
#define QUORLIN_THUMBNAIL_CACHE_QL_CACHE_FOLDER_INDEX_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/ql_mutex.h"
#include "base/ql_status.h"

class QLCacheFolderIndex {
 public:
  typedef std::chrono::steady_clock Clock;

  struct Limits {
    std::size_t max_folders = 32;
    // About 130 bytes a name (with the size and time the cap uses): the
    // whole index stays near 33 MB at worst.
    std::size_t max_names = 250000;
    Clock::duration max_trust_age = std::chrono::seconds(60);
    Clock::duration idle_drop = std::chrono::minutes(10);
  };

  QLCacheFolderIndex();
  explicit QLCacheFolderIndex(Limits const& limits);
  QLCacheFolderIndex(QLCacheFolderIndex const&) = delete;
  QLCacheFolderIndex& operator=(QLCacheFolderIndex const&) = delete;

  // Names of the entries of `folder` (as given, with its trailing "/"; the
  // folder itself is `dir`, an open descriptor of it, which is what is
  // examined and listed) that begin with `prefix`, compared byte by byte. Order: listing order,
  // then names added through Apply() in the order they were added. Directories and vanished entries
  // are NOT filtered out: the caller examines each candidate itself. When the folder cannot be
  // opened for listing, nothing is appended and the status says why (the folder is its where).
  QLStatus FindPrefix(std::string const& folder, int dir, std::string const& prefix,
                      std::vector<std::string>* names) EXCLUDES(mutex_);

  // Runs `change`, one file-system call that removes the entry `removed`
  // and/or adds the entry `added` in `folder`, open as `dir` (either may be empty; a rename
  // within the folder does both). `change` returns true when the folder now
  // looks as intended, false when the call failed without changing it. The
  // index follows the change; if the folder moved on in ways it cannot
  // account for, the folder is forgotten and listed again on its next use.
  // An exception from `change` forgets the folder and propagates.
  bool Apply(std::string const& folder, int dir, std::string const& removed,
             std::string const& added, std::function<bool()> const& change) EXCLUDES(mutex_);

  // Size tracking on or off (see the contract above); a change forgets every
  // folder, so the sums start from listings. Call before serving.
  void TrackCacheFiles(bool on) EXCLUDES(mutex_);

  // The sum of the sizes of the cache files of `folder`; false when the
  // index has no sum for it (no tracking, never listed, or not kept).
  bool CacheBytes(std::string const& folder, std::uint64_t* bytes) const EXCLUDES(mutex_);

  // Records that the cache file `name` of `folder` now has the modification
  // time `used` (a hit set it); nothing when the index does not know it.
  void Touch(std::string const& folder, std::string const& name, struct timespec used)
      EXCLUDES(mutex_);

  struct Eviction {
    std::size_t files = 0;
    std::uint64_t bytes = 0;
  };
  // Removes the counted cache files of `folder`, open as `dir`, oldest
  // modification time first (least recently made or hit), never `keep`,
  // until their sum is at most `target`; adds what it removed to *done. Each
  // removal is an unlinkat relative to `dir` (a symlink or file at that name
  // is removed, never followed) of a file whose size and time, in the index
  // and on disk (one fstatat), are still the ones chosen: one hit or
  // replaced meanwhile stays. A reader that has the
  // file open goes on reading all of it: unlinking removes the name, the
  // file lives until its last descriptor closes. A folder the index cannot
  // vouch for is listed first. Only one eviction per folder runs at a time;
  // a second call meanwhile returns at once. The first removal that fails
  // otherwise than ENOENT ends it and is returned (the file is its where).
  QLStatus Evict(std::string const& folder, int dir, std::uint64_t target, std::string const& keep,
                 Eviction* done) EXCLUDES(mutex_);

  // Counters for tests and benchmarks.
  std::uint64_t listings() const EXCLUDES(mutex_);  // full listings made so far
  std::size_t folder_count() const EXCLUDES(mutex_);
  std::size_t name_count() const EXCLUDES(mutex_);

 private:
  struct FolderStamp {
    dev_t device;
    ino_t inode;
    struct timespec modified;
  };
  struct Name {
    std::uint64_t order = 0;  // of appearance
    // With tracking, for a cache file only: its size and modification time.
    bool counted = false;
    std::uint64_t bytes = 0;
    struct timespec used = {0, 0};
  };
  struct Folder {
    FolderStamp stamp;
    std::map<std::string, Name> names;
    std::uint64_t next_order = 0;
    std::uint64_t cache_bytes = 0;  // the counted names' sizes
    Clock::time_point listed_at;
    Clock::time_point used_at;
  };
  typedef std::map<std::string, Folder> Folders;

  static bool Stamp(int dir, FolderStamp* stamp);
  static bool SameStamp(FolderStamp const& a, FolderStamp const& b);
  // Lists `folder`; appends the matching names to `names`; keeps the folder
  // when the listing can be trusted and fits the budget.
  // `names` may be null.
  QLStatus List(std::string const& folder, int dir, std::string const& prefix,
                Clock::time_point now, std::vector<std::string>* names) REQUIRES(mutex_);
  void Forget(Folders::iterator folder) REQUIRES(mutex_);
  // The folder when its names can be used now (same stamp, listing young
  // enough); otherwise it is forgotten and folders_.end() returned.
  Folders::iterator Trusted(std::string const& folder, int dir, Clock::time_point now)
      REQUIRES(mutex_);
  // Apply() on a known folder.
  bool ApplyKnown(Folders::iterator known, int dir, std::string const& removed,
                  std::string const& added, std::function<bool()> const& change) REQUIRES(mutex_);
  // With tracking: counts `entry` when `name` is a cache file name and a
  // regular file in `dir`.
  void Count(Folder& state, int dir, std::string const& name, Name& entry) REQUIRES(mutex_);
  static void Uncount(Folder& state, Name& entry);
  // Drops idle folders, then least recently used ones until within limits.
  void Trim(Clock::time_point now, Folders::iterator keep) REQUIRES(mutex_);

  Limits const limits_;
  mutable QLMutex mutex_;
  Folders folders_ GUARDED_BY(mutex_);
  std::size_t total_names_ GUARDED_BY(mutex_) = 0;
  std::uint64_t listings_ GUARDED_BY(mutex_) = 0;
  bool track_ GUARDED_BY(mutex_) = false;
  std::set<std::string> evicting_ GUARDED_BY(mutex_);  // folders an Evict() is working on
};

#endif  // QUORLIN_THUMBNAIL_CACHE_QL_CACHE_FOLDER_INDEX_H_
