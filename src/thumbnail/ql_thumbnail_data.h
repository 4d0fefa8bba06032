// One thumbnail request, carried from the command handler through the cache,
// the dispatch, a format handler and the resize step, and back with the
// thumbnail's bytes.
//
// Lives on the stack of the worker thread handling the request; every step
// gets it by reference and keeps no reference after returning. Not copied.
// The steps below the command handler do not log their failures: they add
// them to `failures`, and the command handler logs each once.
#ifndef QUORLIN_THUMBNAIL_QL_THUMBNAIL_DATA_H_
#define QUORLIN_THUMBNAIL_QL_THUMBNAIL_DATA_H_

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/ql_status.h"
#include "protocol/ql_thumbnail_format.h"

class QLRequestFiles;
struct QLCacheUpkeep;

class QLThumbnailData : private boost::noncopyable {
 public:
  // Where a finished thumbnail came from.
  enum class Origin { kNone, kCache, kMade, kDefaultPicture };

  QLThumbnailData()
      : width(0),
        height(0),
        full_screen(false),
        thumbnail_size(0),
        resource_id(0),
        save_to_cache(false) {}

  std::string path;                   // source file; its extension picks the handler
  std::uint32_t width;                // requested thumbnail width in pixels
  std::uint32_t height;               // requested thumbnail height in pixels
  bool full_screen;                   // true: fit the whole picture; false: fill the box
  boost::shared_ptr<void> thumbnail;  // encoded bytes; the producer installs the matching deleter
  std::int64_t thumbnail_size;        // byte count of `thumbnail`
  std::uint64_t resource_id;          // names the cache file; printed unsigned
  bool save_to_cache;                 // after a handler succeeds: store in the cache?
  std::string thumbnail_folder;       // cache folder
  std::string default_thumbnail_folder;  // folder with the five default pictures
  Origin origin = Origin::kNone;         // set by GetThumbnailFor when it succeeds
  // The format of `thumbnail` and of the cache file: the provider's option,
  // set by GetThumbnailFor before the cache is asked.
  QLThumbnailFormat format = QLThumbnailFormat::kPng;
  // A pre-generation sweep's request: it waits while a person's is waiting.
  bool background = false;
  // The request's opened source, cache folder and default pictures, made by
  // QLThumbnailProvider::FilesOf once the request holds its lock or slot.
  std::shared_ptr<QLRequestFiles> files;
  // What the cache leaves for after the reply (cache/ql_thumbnail_cache.h);
  // null without a size cap and whenever there is nothing to do.
  std::shared_ptr<QLCacheUpkeep> upkeep;
  // What went wrong on the way, in the order met, each failure once (a
  // refused folder met by the look-up and again by the save is one line).
  std::vector<QLStatus> failures;

  void Report(QLStatus const& status) {
    if (status.ok()) return;
    for (QLStatus const& known : failures) {
      if (known.kind() == status.kind() && known.what() == status.what()) return;
    }
    failures.push_back(status);
  }
};

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_DATA_H_
