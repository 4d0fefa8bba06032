// Cost of one cache save (clean-up of outdated files plus the write) into a
// cache folder already holding 0, 1,000 or 100,000 thumbnails of other
// resources. Each iteration saves the same entry for a source that changed,
// so every save also finds and deletes the previous file, as in service.
// The folders are filled once, with empty files.
// links: ql_thumbnail
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
#include "thumbnail/ql_thumbnail_provider.h"

namespace {

struct Folders {
  std::string root;
  std::string source;
  std::map<int, std::string> by_count;

  Folders() {
    char name[] = "/tmp/ql_cache_save_bench_XXXXXX";
    root = mkdtemp(name);
    source = root + "/photo.jpg";
    close(open(source.c_str(), O_WRONLY | O_CREAT, 0644));
  }
  ~Folders() {
    boost::system::error_code ignored;
    boost::filesystem::remove_all(root, ignored);
  }

  std::string const& WithFiles(int count) {
    std::string& folder = by_count[count];
    if (!folder.empty()) return folder;
    folder = root + "/cache" + std::to_string(count);
    mkdir(folder.c_str(), 0755);
    for (int i = 0; i < count; ++i) {
      std::string const file = folder + "/" + std::to_string(i) + "_160x120_0_5f5e1000.png";
      close(open(file.c_str(), O_WRONLY | O_CREAT, 0644));
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
  for (auto _ : state) {
    state.PauseTiming();
    struct utimbuf times = {modified, modified};
    ++modified;
    utime(folders.source.c_str(), &times);
    QLThumbnailData data;
    data.path = folders.source;
    data.resource_id = 0xfeed;
    data.width = 160;
    data.height = 120;
    data.thumbnail_folder = folder;
    data.thumbnail = png;
    data.thumbnail_size = 4096;
    state.ResumeTiming();
    provider.SaveThumbnail(data);
  }
  state.counters["listings"] = static_cast<double>(provider.cache_index().listings());
}
BENCHMARK(BM_SaveIntoFolderOf)->Arg(0)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
