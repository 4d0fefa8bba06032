// Running totals of the thumbnail helper's work, for the status line a
// service manager shows.
//
// Contract: every counter is atomic; any thread may count or read. A
// snapshot's fields are read one by one, so one taken while requests run may
// be a request ahead in one field.
#ifndef QUORLIN_THUMBNAIL_QL_THUMBNAIL_COUNTERS_H_
#define QUORLIN_THUMBNAIL_QL_THUMBNAIL_COUNTERS_H_

#include <atomic>
#include <cstdint>
#include <string>

struct QLThumbnailCounters {
  std::atomic<std::uint64_t> requests{0};    // frames handed to the command handler
  std::atomic<std::uint64_t> cache_hits{0};  // answered from the cache
  std::atomic<std::uint64_t> made{0};        // thumbnails decoded and made
  std::atomic<std::uint64_t> defaults{0};    // answered with a default picture
  std::atomic<std::uint64_t> failures{0};    // failure reply, or no reply (invalid JSON)

  // "requests: R, cache hits: H, thumbnails made: M, default pictures: D,
  // failures: F".
  std::string StatusLine() const;
};

#endif  // QUORLIN_THUMBNAIL_QL_THUMBNAIL_COUNTERS_H_
