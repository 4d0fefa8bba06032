// How often a cache folder whose disk is full is reported: when the disk
// holding a cache folder fills up, every miss after that fails to save, and
// one ERROR line per miss would bury the log (and fill it, if it shares the
// disk). So the first failed save of a folder is reported, then at most one
// line a minute per folder, each saying how many saves were dropped since
// the line before. Replies are not affected: a thumbnail that cannot be
// saved is still sent.
//
// Threads: Admit is called from every worker thread; `mutex_` guards the
// folders' records. At most kMaxFolders folders are remembered; when more
// are full at once, the one reported longest ago is forgotten first (its
// next failure is then reported at once).
#ifndef QUORLIN_THUMBNAIL_CACHE_QL_FULL_FOLDER_REPORTS_H_
#define QUORLIN_THUMBNAIL_CACHE_QL_FULL_FOLDER_REPORTS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "base/ql_mutex.h"

class QLFullFolderReports {
 public:
  typedef std::chrono::steady_clock Clock;
  static constexpr Clock::duration kInterval = std::chrono::minutes(1);
  static constexpr std::size_t kMaxFolders = 256;

  // Counts one save dropped in `folder` at `now`. True when it is to be
  // reported now, with *dropped the saves dropped in the folder since its
  // last report, this one included; false when the report waits.
  bool Admit(std::string const& folder, Clock::time_point now, std::uint64_t* dropped)
      EXCLUDES(mutex_);

 private:
  struct Folder {
    Clock::time_point reported;
    std::uint64_t dropped = 0;  // since `reported`, unreported
  };

  QLMutex mutex_;
  std::map<std::string, Folder> folders_ GUARDED_BY(mutex_);
};

#endif  // QUORLIN_THUMBNAIL_CACHE_QL_FULL_FOLDER_REPORTS_H_
