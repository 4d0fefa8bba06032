// The thumbnail request: its seven keys and one optional key, the JSON object a caller sends and
// the reading of that object on the daemon's side. A new key, or a key
// renamed, is a change here and nowhere else.
//
// Contract: QLThumbnailRequest is a plain value. BuildRequestJson and
// ReadRequest keep no state; any thread may call them, each with objects
// of its own. The key constants are static storage, valid for the life of
// the process.
#ifndef QUORLIN_PROTOCOL_QL_THUMBNAIL_REQUEST_H_
#define QUORLIN_PROTOCOL_QL_THUMBNAIL_REQUEST_H_

#include <cstdint>
#include <string>

namespace JSON {
class JSONParser;
}

// The keys, as the daemon names them in its log lines.
extern char const kRequestPathKey[];
extern char const kRequestWidthKey[];
extern char const kRequestHeightKey[];
extern char const kRequestFullScreenKey[];
extern char const kRequestResourceIdKey[];
extern char const kRequestThumbnailFolderKey[];
extern char const kRequestDefaultFolderKey[];
// Optional: true marks a request no person waits for (a pre-generation
// sweep); the daemon lets interactive requests go first. Sent only when
// true, so other requests stay as they always were; a daemon that does not
// know the key ignores it, as this one ignores every key it does not read.
extern char const kRequestBackgroundKey[];

struct QLThumbnailRequest {
  std::string path;  // absolute: the daemon has a working directory of its own
  std::uint32_t width = 160;
  std::uint32_t height = 120;
  bool full_screen = false;       // true: fit the whole picture; false: fill the box
  std::uint64_t resource_id = 0;  // names the cache file
  std::string thumbnail_folder;   // the cache folder
  std::string default_folder;     // holds the default pictures
  bool background = false;        // no person waits for it
};

// The request body, one JSON object with the seven keys, and the optional
// one when set.
std::string BuildRequestJson(QLThumbnailRequest const& request);

// Reads the seven keys, and the optional one (false when absent), from a
// parsed request body into *request. A value of
// another JSON type reads as the empty value of its slot (0, false, "").
// Returns false, with *missing_key set to the first key (in the order above)
// that is absent; *request is then partly filled and must not be used.
bool ReadRequest(JSON::JSONParser const& parser, QLThumbnailRequest* request,
                 char const** missing_key);

#endif  // QUORLIN_PROTOCOL_QL_THUMBNAIL_REQUEST_H_
