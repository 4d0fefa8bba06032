// quorlin_gd_pregen --prune: removes from the cache folder the thumbnails
// nobody will ask for again, judged from the same list or walk a generating
// run is given, without asking the daemon anything.
//
// The rule, from what a cache name carries (protocol/ql_cache_file_name.h):
// a cache file stays exactly when its resource id is among the entries and
// its time is the current modification time (whole seconds since the epoch,
// of the file a path leads to, as the daemon names it) of one of that id's
// paths. So the files of a source deleted, or changed since, go; the same id
// listed with several paths keeps the files of each path's time; a source
// renamed under the same id keeps its files, since a rename keeps the time
// (a walk gives the new path a new id, so there its old files go). Size,
// mode and format do not matter: every extension is judged alike, and
// --size is ignored.
//
// When the entries may leave out sources that are meant to stay (a bad list
// line, a folder the walk skipped), files of ids not among them are kept,
// and so are the files of an id none of whose paths could be looked at for
// another reason than being gone (a permission error): only what is known
// to be stale is removed.
//
// The folder may be anyone's: it is opened once without following a final
// symbolic link, and every name is looked at (fstatat) and removed
// (unlinkat) beneath that descriptor without following links. Only regular
// files are removed; names ParseCacheFileName refuses (temporary files,
// CACHEDIR.TAG, anything else) and every other kind of entry are left
// alone. A file is removed as soon as it is judged, so no name is held in
// memory beyond the one looked at; at most kMaxPruneNames names are looked
// at, which bounds the time a folder filled by someone else can take. A
// name swapped for a symbolic link between the look and the removal loses
// that link, never its target.
//
// Contract: PruneCache runs on the calling thread alone; `stop_requested`
// is polled between names and must be safe to call there (a signal flag).
#ifndef QUORLIN_TOOLS_PREGEN_QL_PREGEN_PRUNE_H_
#define QUORLIN_TOOLS_PREGEN_QL_PREGEN_PRUNE_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ql_pregen_entries.h"
#include "ql_pregen_options.h"

// A library of 100,000 photos in two sizes and every format is 600,000
// names; past this bound the rest of the folder is left alone and the run
// counts as incomplete.
const std::size_t kMaxPruneNames = 4000000;

struct QLPruneCounts {
  std::uint64_t removed = 0;        // cache files removed (or that would be)
  std::uint64_t removed_bytes = 0;  // their sizes
  std::uint64_t kept = 0;           // cache files left in place
  std::uint64_t others = 0;         // other names and entries, never touched
  std::uint64_t failed = 0;         // bad list lines, sources not judged, removals
};

struct QLPruneResult {
  QLPruneCounts counts;
  bool incomplete = false;  // the folder could not be listed to its end
  bool interrupted = false;
};

// Prunes options.thumbnail_folder against `entries` (bad lines included, as
// read); `entries_complete` false when they may leave sources out (a walk
// that skipped folders). With options.dry_run nothing is removed and the
// counts are the same. Problems go to `messages` one line each, and the
// summary line ends the run.
QLPruneResult PruneCache(QLPregenOptions const& options, std::vector<QLPregenEntry> const& entries,
                         bool entries_complete, std::function<bool()> const& stop_requested,
                         std::ostream& messages);

// "prune: removed N cache files (B bytes), kept K, O other entries left
// alone, F failed"; "would remove" on a dry run.
std::string FormatPruneSummary(QLPruneCounts const& counts, bool dry_run);

// The exit status (QLPregenExit): interrupted, else 1 when anything failed
// or the folder was not listed to its end, else 0.
int PruneExitStatus(QLPruneResult const& result);

#endif  // QUORLIN_TOOLS_PREGEN_QL_PREGEN_PRUNE_H_
