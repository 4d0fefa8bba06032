// Confinement of the folders and files a request names to a set of allowed
// root folders, judged on real paths: every symlink and ".." resolved.
//
// Contract: a value type; roots are added on one thread before requests run
// and only read afterwards, so any number of threads may call Contains at
// once. A confinement with no root added (and none attempted) contains
// everything, as the helper always behaved; once any root was given, a path
// is contained only when it resolves inside one that resolved.
#ifndef QUORLIN_THUMBNAIL_QL_PATH_CONFINEMENT_H_
#define QUORLIN_THUMBNAIL_QL_PATH_CONFINEMENT_H_

#include <string>
#include <vector>

class QLPathConfinement {
 public:
  // Adds `folder` as a root, resolved now. False (with the reason in *error)
  // when it does not resolve to a folder; the confinement is on all the
  // same, so a mistyped root refuses rather than allows.
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

 private:
  bool restricts_ = false;
  std::vector<std::string> roots_;
};

#endif  // QUORLIN_THUMBNAIL_QL_PATH_CONFINEMENT_H_
