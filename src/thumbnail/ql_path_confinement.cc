#include "thumbnail/ql_path_confinement.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

namespace {

// realpath() into a string; false with errno set on failure.
bool RealPath(std::string const& path, std::string* resolved) {
  char* const real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  resolved->assign(real);
  free(real);
  return true;
}

bool IsInside(std::string const& path, std::string const& root) {
  if (root == "/") return true;
  return path == root || (path.compare(0, root.size(), root) == 0 && path.size() > root.size() &&
                          path[root.size()] == '/');
}

}  // namespace

bool QLPathConfinement::Resolve(std::string const& path, std::string* resolved) {
  std::string existing = path.empty() ? "." : path;
  // Trailing slashes name the same folder.
  while (existing.size() > 1 && existing.back() == '/') existing.pop_back();
  std::string missing;  // the names below `existing` that do not exist, "/a/b"
  for (;;) {
    if (RealPath(existing, resolved)) break;
    if (errno != ENOENT) return false;  // a loop, a refused look-up, a file as folder
    std::string::size_type const slash = existing.rfind('/');
    std::string const name = slash == std::string::npos ? existing : existing.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return false;
    missing = "/" + name + missing;
    if (slash == std::string::npos) {
      existing = ".";
    } else {
      existing = slash == 0 ? "/" : existing.substr(0, slash);
    }
    while (existing.size() > 1 && existing.back() == '/') existing.pop_back();
  }
  if (!missing.empty()) {
    // A dangling symlink also reads as missing: the folder made through it
    // would land wherever it points.
    struct stat info;
    std::string const first = existing + missing.substr(0, missing.find('/', 1));
    if (lstat(first.c_str(), &info) == 0) return false;
    if (*resolved == "/") resolved->clear();
    *resolved += missing;
  }
  return true;
}

bool QLPathConfinement::AddRoot(std::string const& folder, std::string* error) {
  restricts_ = true;
  std::string resolved;
  struct stat info;
  if (folder.empty() || !RealPath(folder, &resolved)) {
    *error = folder.empty() ? "empty folder name" : strerror(errno);
    return false;
  }
  if (stat(resolved.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = "not a folder";
    return false;
  }
  roots_.push_back(resolved);
  return true;
}

bool QLPathConfinement::Contains(std::string const& path) const {
  if (!restricts_) return true;
  std::string resolved;
  if (!Resolve(path, &resolved)) return false;
  for (std::string const& root : roots_) {
    if (IsInside(resolved, root)) return true;
  }
  return false;
}
