// Confinement of the folders and files a request names to a set of allowed
// root folders.
//
// Two checks, one by name and one on the object. Contains judges a path's
// real path (every symlink and ".." resolved) when the request arrives, so a
// request naming a place outside the roots is refused before anything is
// opened. But the caller may re-point its symlinks after that check, while
// the request waits for the provider lock; so every file and folder is then
// opened with Open or OpenFolder, which have the kernel resolve the path
// beneath an open descriptor of the root (openat2 with RESOLVE_BENEATH): a
// symlink leading out of the root, there from the start or swapped in since,
// fails with EXDEV. On kernels without openat2 the opened descriptor's real
// path is checked instead.
//
// Contract: a value type; copies share the roots' descriptors, which stay
// open for the life of the last copy. Roots are added on one thread before
// requests run and only read afterwards, so any number of threads may call
// the rest at once. A confinement with no root added (and none attempted)
// contains everything, as the helper always behaved, and opens paths as
// given; once any root was given, a path is contained only when it resolves
// inside one that resolved.
#ifndef QUORLIN_THUMBNAIL_QL_PATH_CONFINEMENT_H_
#define QUORLIN_THUMBNAIL_QL_PATH_CONFINEMENT_H_

#include <memory>
#include <string>
#include <vector>

#include "base/ql_unique_fd.h"

class QLPathConfinement {
 public:
  // Adds `folder` as a root, resolved and opened now. False (with the reason
  // in *error) when it does not resolve to a folder; the confinement is on
  // all the same, so a mistyped root refuses rather than allows.
  bool AddRoot(std::string const& folder, std::string* error);

  bool restricts() const { return restricts_; }

  // Whether `path` resolves inside a root. A path that does not exist yet (a
  // cache folder to be made) is judged by its deepest existing ancestor; the
  // part below that must be plain names, since "." or ".." there would be
  // resolved only by whoever creates the folders. Relative paths are taken
  // from the working directory, the empty path as the working directory.
  bool Contains(std::string const& path) const;

  // The real path of `path` as Contains judges it; false when it cannot be
  // told.
  static bool Resolve(std::string const& path, std::string* resolved);

  // Opens `path` with open(2) `flags` (close-on-exec added), inside a root
  // when the confinement restricts. -1 with errno on failure; EXDEV when the
  // path leads out of every root.
  QLUniqueFd Open(std::string const& path, int flags) const;

  // Opens the folder `path` for reading its entries; with `create`, first
  // makes the folders missing below its deepest existing one, each opened
  // without following a symlink. Inside a root when the confinement
  // restricts. -1 with errno on failure (EXDEV as above). *created (when
  // given) tells whether this call made the folder `path` itself.
  QLUniqueFd OpenFolder(std::string const& path, bool create, bool* created = nullptr) const;

 private:
  struct Root {
    std::string path;  // resolved
    std::shared_ptr<QLUniqueFd> fd;
  };

  // Splits `path` into the real path of its deepest existing ancestor and
  // the plain names below it ("/a/b"); false as Resolve.
  static bool Split(std::string const& path, std::string* existing, std::string* missing);
  // Opens the real path `resolved` with `flags`, beneath the root holding
  // it when the confinement restricts.
  QLUniqueFd OpenResolved(std::string const& resolved, int flags) const;

  bool restricts_ = false;
  std::vector<Root> roots_;
};

#endif  // QUORLIN_THUMBNAIL_QL_PATH_CONFINEMENT_H_
