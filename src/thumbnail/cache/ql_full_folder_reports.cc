#include "thumbnail/cache/ql_full_folder_reports.h"

#include <algorithm>

constexpr QLFullFolderReports::Clock::duration QLFullFolderReports::kInterval;
constexpr std::size_t QLFullFolderReports::kMaxFolders;

bool QLFullFolderReports::Admit(std::string const& folder, Clock::time_point now,
                                std::uint64_t* dropped) {
  QLMutexLock lock(&mutex_);
  auto found = folders_.find(folder);
  if (found == folders_.end()) {
    if (folders_.size() >= kMaxFolders) {
      folders_.erase(std::min_element(
          folders_.begin(), folders_.end(),
          [](auto const& a, auto const& b) { return a.second.reported < b.second.reported; }));
    }
    folders_[folder].reported = now;
    *dropped = 1;
    return true;
  }
  Folder& known = found->second;
  ++known.dropped;
  if (now - known.reported < kInterval) return false;
  *dropped = known.dropped;
  known.reported = now;
  known.dropped = 0;
  return true;
}
