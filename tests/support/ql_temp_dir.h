// A fresh folder under $TMPDIR (/tmp when unset; a benchmark run can so put
// its files on the disk it measures) for one test, removed with its content
// when the object goes away. Used by one thread.
#ifndef QUORLIN_TESTS_SUPPORT_QL_TEMP_DIR_H_
#define QUORLIN_TESTS_SUPPORT_QL_TEMP_DIR_H_

#include <string>
#include <vector>

class QLTempDir {
 public:
  QLTempDir();
  ~QLTempDir();
  QLTempDir(QLTempDir const&) = delete;
  QLTempDir& operator=(QLTempDir const&) = delete;

  // The folder, without a trailing slash.
  std::string const& path() const { return path_; }
  // path() + "/" + name.
  std::string File(std::string const& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole content of a file, or "" when it cannot be read.
std::string ReadFileText(std::string const& path);
// Writes `text` to `path`, replacing it; false on failure.
bool WriteFileText(std::string const& path, std::string const& text);
// Sorted names in a cache folder but its CACHEDIR.TAG: the thumbnails and
// whatever else was left there; none when it cannot be listed.
std::vector<std::string> CacheFolderEntries(std::string const& folder);

#endif  // QUORLIN_TESTS_SUPPORT_QL_TEMP_DIR_H_
