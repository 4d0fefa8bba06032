#include "thumbnail/ql_path_confinement.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

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

// openat2 beneath `dir`; -1 with errno ENOSYS on a kernel without it.
int OpenBeneath(int dir, char const* relative, int flags) {
  struct open_how how;
  memset(&how, 0, sizeof how);
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long result;
  do {
    result = syscall(SYS_openat2, dir, relative, &how, sizeof how);
  } while (result < 0 && (errno == EINTR || errno == EAGAIN));
  return static_cast<int>(result);
}

// Where openat2 is missing: what the descriptor really is must lie inside.
bool OpenedInside(int fd, std::string const& root) {
  std::string const link = "/proc/self/fd/" + std::to_string(fd);
  char target[PATH_MAX + 1];
  ssize_t const length = readlink(link.c_str(), target, PATH_MAX);
  return length > 0 && IsInside(std::string(target, static_cast<std::size_t>(length)), root);
}

}  // namespace

bool QLPathConfinement::Split(std::string const& path, std::string* existing_out,
                              std::string* missing) {
  std::string existing = path.empty() ? "." : path;
  // Trailing slashes name the same folder.
  while (existing.size() > 1 && existing.back() == '/') existing.pop_back();
  missing->clear();
  for (;;) {
    if (RealPath(existing, existing_out)) break;
    if (errno != ENOENT) return false;  // a loop, a refused look-up, a file as folder
    std::string::size_type const slash = existing.rfind('/');
    std::string const name = slash == std::string::npos ? existing : existing.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return false;
    *missing = "/" + name + *missing;
    if (slash == std::string::npos) {
      existing = ".";
    } else {
      existing = slash == 0 ? "/" : existing.substr(0, slash);
    }
    while (existing.size() > 1 && existing.back() == '/') existing.pop_back();
  }
  if (!missing->empty()) {
    // A dangling symlink also reads as missing: the folder made through it
    // would land wherever it points.
    struct stat info;
    std::string const first = existing + missing->substr(0, missing->find('/', 1));
    if (lstat(first.c_str(), &info) == 0) return false;
  }
  return true;
}

bool QLPathConfinement::Resolve(std::string const& path, std::string* resolved) {
  std::string missing;
  if (!Split(path, resolved, &missing)) return false;
  if (!missing.empty()) {
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
  QLUniqueFd fd(open(resolved.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || fstat(fd.get(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = "not a folder";
    return false;
  }
  roots_.push_back(Root{resolved, std::make_shared<QLUniqueFd>(std::move(fd))});
  return true;
}

bool QLPathConfinement::Contains(std::string const& path) const {
  if (!restricts_) return true;
  std::string resolved;
  if (!Resolve(path, &resolved)) return false;
  for (Root const& root : roots_) {
    if (IsInside(resolved, root.path)) return true;
  }
  return false;
}

QLUniqueFd QLPathConfinement::OpenResolved(std::string const& resolved, int flags) const {
  flags |= O_CLOEXEC;
  if (!restricts_) return QLUniqueFd(open(resolved.c_str(), flags));
  for (Root const& root : roots_) {
    if (!IsInside(resolved, root.path)) continue;
    std::string relative = resolved.substr(root.path == "/" ? 1 : root.path.size());
    while (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
    if (relative.empty()) relative = ".";
    QLUniqueFd fd(OpenBeneath(root.fd->get(), relative.c_str(), flags));
    if (fd.valid() || errno != ENOSYS) return fd;
    fd = QLUniqueFd(open(resolved.c_str(), flags | O_NOFOLLOW));
    if (!fd.valid() || OpenedInside(fd.get(), root.path)) return fd;
    errno = EXDEV;
    return QLUniqueFd();
  }
  errno = EXDEV;
  return QLUniqueFd();
}

QLUniqueFd QLPathConfinement::Open(std::string const& path, int flags) const {
  if (!restricts_) return QLUniqueFd(open(path.c_str(), flags | O_CLOEXEC));
  std::string resolved;
  if (!RealPath(path, &resolved)) return QLUniqueFd();
  return OpenResolved(resolved, flags);
}

QLUniqueFd QLPathConfinement::OpenFolder(std::string const& path, bool create,
                                         bool* created) const {
  int const folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (created) *created = false;
  std::string existing;
  std::string missing;
  if (!Split(path, &existing, &missing)) return QLUniqueFd();
  QLUniqueFd folder = OpenResolved(existing, O_RDONLY | O_DIRECTORY);
  if (!folder.valid() || missing.empty()) return folder;
  if (!create) {
    errno = ENOENT;
    return QLUniqueFd();
  }
  // Each new folder is made and then opened by its name in the folder made
  // before, never following a symlink: nothing swapped in meanwhile can lead
  // the rest elsewhere.
  std::string::size_type start = 1;
  while (start < missing.size()) {
    std::string::size_type end = missing.find('/', start);
    if (end == std::string::npos) end = missing.size();
    std::string const name = missing.substr(start, end - start);
    bool const made = mkdirat(folder.get(), name.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) return QLUniqueFd();
    folder = QLUniqueFd(openat(folder.get(), name.c_str(), folder_flags | O_NOFOLLOW));
    if (!folder.valid()) return folder;
    start = end + 1;
    if (created) *created = made && start >= missing.size();
  }
  return folder;
}
