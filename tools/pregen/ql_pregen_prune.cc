#include "ql_pregen_prune.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/ql_c_resource.h"
#include "base/ql_status.h"
#include "base/ql_unique_fd.h"
#include "protocol/ql_cache_file_name.h"
#include "ql_pregen_run.h"

namespace {

// What one listed path says of its id's cache files.
struct QLPruneSource {
  std::uint64_t resource_id = 0;
  enum class State { kModified, kGone, kUnknown } state = State::kGone;
  std::int64_t modified = 0;  // with kModified
};

// The judge of cache names: the listed sources sorted by id.
class QLPruneJudge {
 public:
  QLPruneJudge(std::vector<QLPruneSource> sources, bool remove_unlisted)
      : sources_(std::move(sources)), remove_unlisted_(remove_unlisted) {
    std::sort(sources_.begin(), sources_.end(), [](QLPruneSource const& a, QLPruneSource const& b) {
      return a.resource_id < b.resource_id;
    });
  }

  bool Keep(QLCacheEntryKey const& key, std::int64_t modified) const {
    auto const first = std::lower_bound(
        sources_.begin(), sources_.end(), key.resource_id,
        [](QLPruneSource const& source, std::uint64_t id) { return source.resource_id < id; });
    if (first == sources_.end() || first->resource_id != key.resource_id) return !remove_unlisted_;
    for (auto it = first; it != sources_.end() && it->resource_id == key.resource_id; ++it) {
      if (it->state == QLPruneSource::State::kUnknown) return true;
      if (it->state == QLPruneSource::State::kModified && it->modified == modified) return true;
    }
    return false;
  }

 private:
  std::vector<QLPruneSource> sources_;
  bool const remove_unlisted_;
};

// The source's time as the daemon names it: the whole seconds of the file
// the path leads to (the daemon opens it, following links, and asks fstat).
QLStatus SourceModified(std::string const& path, std::int64_t* modified) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return QLPosixError(path, "", errno);
  *modified = static_cast<std::int64_t>(info.st_mtim.tv_sec);
  return QLStatus();
}

}  // namespace

QLPruneResult PruneCache(QLPregenOptions const& options, std::vector<QLPregenEntry> const& entries,
                         bool entries_complete, std::function<bool()> const& stop_requested,
                         std::ostream& messages) {
  QLPruneResult result;
  QLPruneCounts& counts = result.counts;
  bool remove_unlisted = entries_complete;
  std::vector<QLPruneSource> sources;
  sources.reserve(entries.size());
  for (QLPregenEntry const& entry : entries) {
    if (stop_requested()) {
      result.interrupted = true;
      break;
    }
    if (!entry.error.empty()) {
      ++counts.failed;
      remove_unlisted = false;
      messages << "bad list entry, line " << entry.line << ": " << entry.error << "\n";
      continue;
    }
    QLPruneSource source;
    source.resource_id = entry.resource_id;
    QLStatus const looked = SourceModified(entry.path, &source.modified);
    if (looked.ok()) {
      source.state = QLPruneSource::State::kModified;
    } else if (looked.kind() != QLStatus::Kind::kNotFound) {
      source.state = QLPruneSource::State::kUnknown;
      ++counts.failed;
      messages << looked.ToString() << "; its cache files are kept\n";
    }
    sources.push_back(source);
  }
  if (!remove_unlisted && !result.interrupted) {
    messages << "the entries are incomplete: cache files of ids not among them are kept\n";
  }

  std::string const& folder = options.thumbnail_folder;
  QLUniqueFd folder_fd(
      result.interrupted
          ? -1
          : open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  // A descriptor of its own for the listing, which closedir takes.
  int const listed = folder_fd.valid() ? fcntl(folder_fd.get(), F_DUPFD_CLOEXEC, 0) : -1;
  QLUniqueDir dir(listed >= 0 ? fdopendir(listed) : nullptr);
  int const open_error = errno;
  if (listed >= 0 && !dir) close(listed);
  if (!dir && !result.interrupted) {
    // No cache folder: nothing was ever cached there, nothing to prune. A
    // symbolic link, or anything else in its place, is a failure.
    if (open_error != ENOENT) {
      result.incomplete = true;
      messages << "cannot list the cache folder: "
               << QLPosixError(folder, "", open_error).ToString() << "\n";
    }
  }

  QLPruneJudge const judge(std::move(sources), remove_unlisted);
  std::size_t looked_at = 0;
  while (dir) {
    // A name just removed is never returned again, and the others are
    // unaffected on Linux file systems; one that a file system would skip
    // is left for the next run.
    errno = 0;
    struct dirent64 const* const found = readdir64(dir.get());
    if (!found) {
      if (errno != 0) {
        result.incomplete = true;
        messages << QLPosixError(folder, "listing the cache folder stopped", errno).ToString()
                 << "\n";
      }
      break;
    }
    std::string const name = found->d_name;
    if (name == "." || name == "..") continue;
    if (stop_requested()) {
      result.interrupted = true;
      break;
    }
    if (++looked_at > kMaxPruneNames) {
      result.incomplete = true;
      messages << "stopped after " << kMaxPruneNames << " names in " << folder
               << "; the rest are left for another run\n";
      break;
    }
    QLCacheEntryKey key;
    std::int64_t modified = 0;
    struct stat info;
    if (!ParseCacheFileName(name, &key, &modified)) {
      ++counts.others;
    } else if (fstatat(folder_fd.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone meanwhile
      ++counts.failed;
      messages << QLPosixError(folder + "/" + name, "", errno).ToString() << "\n";
    } else if (!S_ISREG(info.st_mode)) {
      ++counts.others;
    } else if (judge.Keep(key, modified)) {
      ++counts.kept;
    } else if (options.dry_run || unlinkat(folder_fd.get(), name.c_str(), 0) == 0) {
      // A name swapped for a link since fstatat loses that link, never its target.
      ++counts.removed;
      counts.removed_bytes += static_cast<std::uint64_t>(info.st_size);
    } else if (errno != ENOENT) {
      ++counts.failed;
      messages << QLPosixError(folder + "/" + name, "", errno).ToString() << "\n";
    }
  }
  if (result.interrupted) messages << "interrupted: the rest of the cache folder is untouched\n";
  messages << FormatPruneSummary(counts, options.dry_run) << "\n" << std::flush;
  return result;
}

std::string FormatPruneSummary(QLPruneCounts const& counts, bool dry_run) {
  return std::string("prune: ") + (dry_run ? "would remove " : "removed ") +
         std::to_string(counts.removed) + " cache files (" + std::to_string(counts.removed_bytes) +
         " bytes), kept " + std::to_string(counts.kept) + ", " + std::to_string(counts.others) +
         " other entries left alone, " + std::to_string(counts.failed) + " failed";
}

int PruneExitStatus(QLPruneResult const& result) {
  if (result.interrupted) return kPregenInterrupted;
  return result.counts.failed > 0 || result.incomplete ? kPregenSomeFailed : kPregenOk;
}
