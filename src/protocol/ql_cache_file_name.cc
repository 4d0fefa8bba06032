#include "protocol/ql_cache_file_name.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

std::string CacheFilePrefix(QLCacheEntryKey const& key) {
  std::ostringstream prefix;
  prefix << std::hex << key.resource_id << '_' << std::dec << key.width << 'x' << key.height << '_'
         << (key.full_screen ? '1' : '0');
  return prefix.str();
}

std::string CacheFileName(QLCacheEntryKey const& key, std::int64_t modified) {
  std::ostringstream name;
  name << CacheFilePrefix(key) << '_' << std::hex << static_cast<unsigned long long>(modified)
       << ThumbnailFormatExtension(key.format);
  return name.str();
}

char const kCacheDirTagName[] = "CACHEDIR.TAG";
char const kCacheDirTagContent[] =
    "Signature: 8a477f597d28d172789f06886806bc55\n"
    "# This file is a cache directory tag created by quorlin_gd.\n"
    "# For information about cache directory tags, see https://bford.info/cachedir/\n";

bool ParseCacheFileName(std::string const& name, QLCacheEntryKey* key, std::int64_t* modified) {
  std::string::size_type const dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  QLThumbnailFormat format = QLThumbnailFormat::kPng;
  bool known = false;
  for (QLThumbnailFormat candidate : kAllThumbnailFormats) {
    if (name.compare(dot, std::string::npos, ThumbnailFormatExtension(candidate)) == 0) {
      format = candidate;
      known = true;
    }
  }
  if (!known) return false;
  std::string const stem = name.substr(0, dot);
  unsigned long long fields[5] = {};
  char const* at = stem.c_str();
  static int const kBases[5] = {16, 10, 10, 10, 16};
  static char const kEnds[5] = {'_', 'x', '_', '_', '\0'};
  for (int i = 0; i < 5; ++i) {
    // strtoull would skip blanks and take a sign.
    if (!std::isxdigit(static_cast<unsigned char>(*at))) return false;
    char* end = nullptr;
    errno = 0;
    fields[i] = std::strtoull(at, &end, kBases[i]);
    if (errno != 0 || *end != kEnds[i]) return false;
    at = end + 1;
  }
  if (fields[1] > UINT32_MAX || fields[2] > UINT32_MAX || fields[3] > 1) return false;
  QLCacheEntryKey const parsed = {fields[0], static_cast<std::uint32_t>(fields[1]),
                                  static_cast<std::uint32_t>(fields[2]), fields[3] == 1, format};
  std::int64_t const parsed_time = static_cast<std::int64_t>(fields[4]);
  // Leading zeros, upper-case digits: not a name the daemon writes.
  if (CacheFileName(parsed, parsed_time) != name) return false;
  *key = parsed;
  *modified = parsed_time;
  return true;
}
