// Cost of one cache save (clean-up of outdated files plus the write) into a
// cache folder already holding 0, 1,000 or 100,000 thumbnails of other
// resources. Each iteration saves the same entry for a source that changed,
// so every save also finds and deletes the previous file, as in service.
// The folders are filled once, with empty files.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <boost/filesystem/operations.hpp>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "log/ql_log.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

struct Folders {
  QLTempDir root;
  std::string source;
  std::map<int, std::string> by_count;

  Folders() {
    source = root.path() + "/photo.jpg";
    close(open(source.c_str(), O_WRONLY | O_CREAT, 0644));
  }

  std::string const& WithFiles(int count) {
    std::string& folder = by_count[count];
    if (!folder.empty()) return folder;
    folder = root.path() + "/cache" + std::to_string(count);
    mkdir(folder.c_str(), 0755);
    for (int i = 0; i < count; ++i) {
      std::string const file = folder + "/" + std::to_string(i) + "_160x120_0_5f5e1000.png";
      close(open(file.c_str(), O_WRONLY | O_CREAT, 0644));
    }
    // Writing back 100,000 new inodes takes the file system a while; saves
    // timed meanwhile would measure that write-back, not the save.
    int const fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      syncfs(fd);
      close(fd);
    }
    return folder;
  }
};

Folders& Shared() {
  static Folders folders;
  return folders;
}

void BM_SaveIntoFolderOf(benchmark::State& state) {
  ql_log_level = -1;
  Folders& folders = Shared();
  std::string const folder = folders.WithFiles(static_cast<int>(state.range(0)));
  QLThumbnailProvider provider;
  boost::shared_ptr<unsigned char> png(new unsigned char[4096],
                                       [](unsigned char* p) { delete[] p; });
  std::memset(png.get(), 0x5a, 4096);
  std::time_t modified = 1000000;
  // A newer source each time, so each save also replaces the outdated file.
  auto prepare_save = [&](QLThumbnailData& data) {
    struct utimbuf times = {modified, modified};
    ++modified;
    utime(folders.source.c_str(), &times);
    data.path = folders.source;
    data.resource_id = 0xfeed;
    data.width = 160;
    data.height = 120;
    data.thumbnail_folder = folder;
    data.thumbnail = png;
    data.thumbnail_size = 4096;
  };
  // The daemon lists a folder once and then trusts its index for up to a
  // minute of saves; a fresh provider would charge that one listing (tens of
  // milliseconds for 100,000 names) to the first few hundred timed saves.
  // The first save is made untimed so that the figure is the steady state.
  QLThumbnailData first;
  prepare_save(first);
  provider.SaveThumbnail(first);
  for (auto _ : state) {
    state.PauseTiming();
    QLThumbnailData data;
    prepare_save(data);
    state.ResumeTiming();
    provider.SaveThumbnail(data);
  }
  state.counters["listings"] = static_cast<double>(provider.cache_index().listings());
}
BENCHMARK(BM_SaveIntoFolderOf)->Arg(0)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The file-system floor of the same save: the system calls a save cannot do
// without (write a temporary file, fsync, rename it into place, delete the
// outdated name), with no cache logic around them. The file system itself
// makes these dearer in a big folder; set against BM_SaveIntoFolderOf it
// shows what the folder's size costs beyond that.
void BM_BareFileSystemSaveIntoFolderOf(benchmark::State& state) {
  Folders& folders = Shared();
  std::string const folder = folders.WithFiles(static_cast<int>(state.range(0)));
  std::string const temp = folder + "/.tmp-bare";
  char page[4096];
  std::memset(page, 0x5a, sizeof page);
  std::string previous;
  std::uint64_t modified = 1000000;
  for (auto _ : state) {
    std::string const name = folder + "/bare_160x120_0_" + std::to_string(++modified) + ".png";
    int const fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool const saved = fd >= 0 &&
                       write(fd, page, sizeof page) == static_cast<ssize_t>(sizeof page) &&
                       fsync(fd) == 0;
    if (fd >= 0) close(fd);
    if (!saved || rename(temp.c_str(), name.c_str()) != 0) {
      state.SkipWithError("bare save failed");
      break;
    }
    if (!previous.empty()) unlink(previous.c_str());
    previous = name;
  }
  if (!previous.empty()) unlink(previous.c_str());
}
BENCHMARK(BM_BareFileSystemSaveIntoFolderOf)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
