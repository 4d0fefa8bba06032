#include "thumbnail/ql_thumbnail_counters.h"

#include <sstream>

std::string QLThumbnailCounters::StatusLine() const {
  std::ostringstream line;
  line << "requests: " << requests << ", cache hits: " << cache_hits
       << ", thumbnails made: " << made << ", default pictures: " << defaults
       << ", failures: " << failures;
  return line.str();
}
