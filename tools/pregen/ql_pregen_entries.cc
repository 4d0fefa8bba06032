#include "ql_pregen_entries.h"

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>
#include <limits>

#include "base/ql_parse_number.h"
#include "ql_client_options.h"

namespace {

bool ParseId(std::string const& text, std::uint64_t* id) {
  if (!text.empty() && text[0] == '-') {
    std::uint64_t magnitude = 0;
    if (!ParseUnsigned(text.c_str() + 1, 1, 0x8000000000000000ULL, &magnitude)) return false;
    *id = ~magnitude + 1;  // two's complement: the signed id's bits
    return true;
  }
  return ParseUnsigned(text.c_str(), 0, UINT64_MAX, id, QLNumberForm::kDecimalOrHex);
}

bool Inside(std::string const& path, std::string const& folder) {
  return !folder.empty() && path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

// "/a/b/." and "/a/b/" as "/a/b", so a folder compares with the paths under it.
std::string WithoutTrailingDot(std::string folder) {
  while (folder.size() > 1 &&
         (folder[folder.size() - 1] == '/' ||
          (folder.size() > 2 && folder.compare(folder.size() - 2, 2, "/.") == 0))) {
    folder.erase(folder.size() - (folder[folder.size() - 1] == '/' ? 1 : 2));
  }
  return folder;
}

}  // namespace

bool ParseListLine(std::string const& line, QLPregenEntry* entry, std::string* error) {
  std::string text = line;
  if (!text.empty() && text[text.size() - 1] == '\r') text.erase(text.size() - 1);
  std::string::size_type const tab = text.find('\t');
  if (tab == std::string::npos) {
    *error = "expected \"resource_id<TAB>path\", found no tab";
    return false;
  }
  std::string const id_text = text.substr(0, tab);
  std::uint64_t id = 0;
  if (!ParseId(id_text, &id)) {
    *error = "bad resource id \"" + id_text.substr(0, 40) +
             "\" (a 64-bit number: decimal, 0x-hex or negative decimal)";
    return false;
  }
  std::string const path = text.substr(tab + 1);
  if (path.empty()) {
    *error = "empty path";
    return false;
  }
  if (path.find('\0') != std::string::npos) {
    *error = "the path holds a NUL byte";
    return false;
  }
  try {
    entry->path = AbsolutePath(path);
  } catch (boost::filesystem::filesystem_error const& e) {
    *error = std::string("cannot make the path absolute: ") + e.what();
    return false;
  }
  entry->resource_id = id;
  return true;
}

bool ReadList(std::istream& in, std::vector<QLPregenEntry>* entries, std::string* error) {
  // Room for kMaxListLineBytes and the terminating NUL getline stores.
  std::vector<char> buffer(kMaxListLineBytes + 1);
  std::size_t number = 0;
  while (in.good()) {
    in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::streamsize const taken = in.gcount();
    if (taken == 0 && in.eof()) break;
    ++number;
    QLPregenEntry entry;
    entry.line = number;
    if (in.fail() && !in.eof()) {
      // The buffer filled before a newline: drop the rest of this line.
      in.clear();
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      entry.error = "line longer than " + std::to_string(kMaxListLineBytes) + " bytes";
    } else {
      // gcount counts the newline getline consumed; a last line may have none.
      std::size_t length = static_cast<std::size_t>(taken);
      if (length > 0 && !in.eof()) --length;
      std::string const line(buffer.data(), length);
      if (line.empty() || line == "\r" || line[0] == '#') continue;
      std::string why;
      if (!ParseListLine(line, &entry, &why)) entry.error = why;
    }
    if (entries->size() >= kMaxListEntries) {
      *error = "the list has more than " + std::to_string(kMaxListEntries) +
               " entries; split it into several runs";
      return false;
    }
    entries->push_back(entry);
  }
  if (in.bad()) {
    *error = "reading the list failed after line " + std::to_string(number);
    return false;
  }
  return true;
}

bool WalkFolder(std::string const& folder, std::string const& skip_folder,
                std::vector<QLPregenEntry>* entries, std::vector<std::string>* warnings,
                std::string* error) {
  namespace fs = boost::filesystem;
  std::string const skip = WithoutTrailingDot(skip_folder);
  std::vector<QLPregenEntry> found;
  std::vector<fs::path> pending(1, fs::path(folder));
  bool first = true;
  while (!pending.empty()) {
    fs::path const dir = pending.back();
    pending.pop_back();
    boost::system::error_code code;
    fs::directory_iterator it(dir, code);
    if (code) {
      if (first) {
        *error = "cannot read the folder " + folder + ": " + code.message();
        return false;
      }
      warnings->push_back("skipped " + dir.string() + ": " + code.message());
      continue;
    }
    first = false;
    for (fs::directory_iterator const end; it != end; it.increment(code)) {
      fs::file_status const status = it->symlink_status(code);
      if (code) break;
      // The client's own computation, so both name one file by one id.
      std::string const path = AbsolutePath(it->path().string());
      if (fs::is_directory(status)) {
        if (!Inside(path, skip)) pending.push_back(it->path());
      } else if (fs::is_regular_file(status)) {
        if (found.size() >= kMaxListEntries) {
          *error = folder + " holds more than " + std::to_string(kMaxListEntries) +
                   " files; walk its subfolders in several runs";
          return false;
        }
        QLPregenEntry entry;
        entry.path = path;
        entry.resource_id = ResourceIdForPath(path);
        found.push_back(entry);
      }
    }
    if (code) warnings->push_back("stopped reading " + dir.string() + ": " + code.message());
  }
  std::sort(found.begin(), found.end(),
            [](QLPregenEntry const& a, QLPregenEntry const& b) { return a.path < b.path; });
  entries->insert(entries->end(), found.begin(), found.end());
  return true;
}
