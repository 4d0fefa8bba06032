// The files quorlin_gd_pregen asks thumbnails for: read from a list of
// "resource_id<TAB>path" lines, or found by walking a folder.
//
// Pure functions over the stream or folder they are given; any thread may
// call them. A list line longer than kMaxListLineBytes is never held in
// memory whole, and a list of more than kMaxListEntries lines is refused
// before it exhausts memory.
#ifndef QUORLIN_TOOLS_PREGEN_QL_PREGEN_ENTRIES_H_
#define QUORLIN_TOOLS_PREGEN_QL_PREGEN_ENTRIES_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// A path is at most PATH_MAX (4096) bytes; the id and the tab fit in the rest.
const std::size_t kMaxListLineBytes = 4096 + 64;
const std::size_t kMaxListEntries = 10000000;

struct QLPregenEntry {
  std::uint64_t resource_id = 0;
  std::string path;      // absolute
  std::size_t line = 0;  // line number in the list; 0 for a walked file
  std::string error;     // not empty: a bad line, counted as failed
};

// Parses one list line (without its newline; a trailing carriage return is
// dropped). False with *error when the line is not "id<TAB>path": the id
// decimal or 0x-hex up to 2^64-1, or negative decimal down to -2^63 (taken
// as its unsigned twin, as the daemon does); the path non-empty, without NUL
// bytes, made absolute from the working directory.
bool ParseListLine(std::string const& line, QLPregenEntry* entry, std::string* error);

// Reads every line of `in`. Blank lines and lines starting with '#' are
// skipped; a bad or overlong line becomes an entry with its error set.
// False with *error only when the list as a whole is unusable (a read error,
// too many lines).
bool ReadList(std::istream& in, std::vector<QLPregenEntry>* entries, std::string* error);

// Every regular file under `folder` (symbolic links are not followed), sorted
// by path, with the client's path-derived resource id. The subtree
// `skip_folder` (the cache folder) is left out. Folders that cannot be read
// are named in *warnings and skipped. False with *error when `folder` itself
// cannot be read or holds more than kMaxListEntries files.
bool WalkFolder(std::string const& folder, std::string const& skip_folder,
                std::vector<QLPregenEntry>* entries, std::vector<std::string>* warnings,
                std::string* error);

#endif  // QUORLIN_TOOLS_PREGEN_QL_PREGEN_ENTRIES_H_
