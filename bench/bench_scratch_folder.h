// A folder under /tmp for a benchmark program's files: made on construction,
// removed with everything in it on destruction. Used by one thread, usually
// as a member of the program's function-static inputs.
#ifndef QUORLIN_BENCH_BENCH_SCRATCH_FOLDER_H_
#define QUORLIN_BENCH_BENCH_SCRATCH_FOLDER_H_

#include <stdlib.h>

#include <boost/filesystem/operations.hpp>
#include <cstdio>
#include <string>
#include <vector>

class BenchScratchFolder {
 public:
  // `stem` names the folder: /tmp/<stem>_XXXXXX. Ends the program when the
  // folder cannot be made, since no figure would mean anything without it.
  explicit BenchScratchFolder(std::string const& stem) {
    std::string const pattern = "/tmp/" + stem + "_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
      std::perror(("cannot make " + pattern).c_str());
      std::exit(1);
    }
    path_ = name.data();
  }
  ~BenchScratchFolder() {
    boost::system::error_code ignored;
    boost::filesystem::remove_all(path_, ignored);
  }
  BenchScratchFolder(BenchScratchFolder const&) = delete;
  BenchScratchFolder& operator=(BenchScratchFolder const&) = delete;

  std::string const& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // QUORLIN_BENCH_BENCH_SCRATCH_FOLDER_H_
