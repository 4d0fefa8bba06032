// ql_loadgen: end-to-end load on the running daemon over its socket. Every
// photo is first requested on an empty cache (misses), round after round,
// then the cached thumbnails are requested again (hits).
#include <stdlib.h>

#include <boost/filesystem/operations.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ipc/ql_process_helper_socket.h"
#include "ql_client.h"
#include "ql_client_options.h"
#include "ql_load_run.h"
#include "ql_loadgen_options.h"
#include "ql_loadgen_report.h"

namespace {

// Thumbnails are small, but full-screen ones of large screens reach megabytes.
const unsigned int kMaxReplyBytes = 256u * 1024u * 1024u;

// A new, empty folder inside `root`; "" on failure.
std::string FreshFolder(std::string const& root, std::string const& stem) {
  boost::system::error_code error;
  boost::filesystem::create_directories(root, error);
  std::string pattern = root + "/" + stem + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

// Removes the cache folders this run made, whatever happens.
class FolderCleaner {
 public:
  ~FolderCleaner() {
    for (std::string const& folder : folders_) {
      boost::system::error_code ignored;
      boost::filesystem::remove_all(folder, ignored);
    }
  }
  std::string const& Keep(std::string const& folder) {
    folders_.push_back(folder);
    return folders_.back();
  }

 private:
  std::vector<std::string> folders_;
};

std::vector<std::string> Bodies(QLLoadgenOptions const& options,
                                std::vector<std::string> const& files, std::string const& cache) {
  std::vector<std::string> bodies;
  for (std::size_t i = 0; i < files.size(); ++i) {
    QLThumbnailRequest request;
    request.path = files[i];
    request.width = options.width;
    request.height = options.height;
    request.full_screen = options.full_screen;
    request.resource_id = i + 1;  // one cache entry per photo
    request.thumbnail_folder = cache;
    request.default_folder = options.default_folder;
    bodies.push_back(BuildRequestJson(request));
  }
  return bodies;
}

// One miss round: every photo `copies` times, each copy into its own cache
// folder, the copies of a photo next to each other.
std::vector<std::string> MissRoundBodies(QLLoadgenOptions const& options,
                                         std::vector<std::string> const& caches) {
  std::vector<std::vector<std::string>> per_cache;
  for (std::string const& cache : caches)
    per_cache.push_back(Bodies(options, options.files, cache));
  std::vector<std::string> bodies;
  for (std::size_t i = 0; i < options.files.size(); ++i) {
    for (std::vector<std::string> const& copy : per_cache) bodies.push_back(copy[i]);
  }
  return bodies;
}

}  // namespace

int main(int argc, char** argv) {
  QLLoadgenOptions options;
  std::string error;
  if (!ParseLoadgenOptions(argc, argv, &options, &error)) {
    std::cerr << argv[0] << ": " << error << "\n" << LoadgenUsage(argv[0]);
    return 2;
  }
  if (options.help) {
    std::cout << LoadgenUsage(argv[0]);
    return 0;
  }
  if (options.default_folder.empty()) options.default_folder = DefaultPicturesFolder();
  QLProcessHelperSocket::SetMaxMessageLength(kMaxReplyBytes);

  std::vector<std::unique_ptr<QLLoadConnection>> clients;
  for (unsigned int i = 0; i < options.clients; ++i) {
    clients.emplace_back(new QLLoadConnection(options.socket, options.timeout_seconds));
  }
  FolderCleaner cleaner;

  if (!options.warmup.empty()) {
    std::string const folder = cleaner.Keep(FreshFolder(options.cache_root, "warmup"));
    std::size_t bytes = 0;
    QLReplyKind const kind =
        clients[0]->Exchange(Bodies(options, {options.warmup}, folder)[0], &bytes);
    if (kind == kReplyNone) {
      std::cerr << argv[0] << ": no reply from the daemon at " << options.socket << "\n";
      return 3;
    }
  }

  QLLoadPhaseSettings settings;
  settings.new_connection_per_request = options.new_connection;
  settings.daemon_pid = options.daemon_pid;

  std::size_t failed = 0;
  QLPhaseReport misses;
  misses.phase = "miss";
  std::string cache;
  for (unsigned int round = 0; round < options.miss_rounds; ++round) {
    std::vector<std::string> caches;
    for (unsigned int copy = 0; copy < options.miss_copies; ++copy) {
      caches.push_back(cleaner.Keep(FreshFolder(options.cache_root, "round")));
      if (caches.back().empty()) {
        std::cerr << argv[0] << ": cannot make a cache folder in " << options.cache_root << "\n";
        return 1;
      }
    }
    cache = caches.front();
    std::vector<std::string> const bodies = MissRoundBodies(options, caches);
    settings.requests = bodies.size();
    settings.per_request_cpu = true;
    QLLoadPhaseResult result = RunLoadPhase(clients, bodies, settings);
    // The report counts per photo: copies of photo i sit at i * copies + c.
    for (QLRequestSample& sample : result.samples) sample.body_index /= options.miss_copies;
    misses.Add(result);
  }
  if (options.miss_rounds > 0) {
    WritePhaseReport(misses, options.files, options.label, options.key_values, std::cout);
    failed += misses.Failed();
  }

  if (options.hits > 0) {
    if (cache.empty()) {
      // No miss round filled a cache: fill one, untimed.
      cache = cleaner.Keep(FreshFolder(options.cache_root, "fill"));
      settings.requests = options.files.size();
      settings.per_request_cpu = false;
      RunLoadPhase(clients, Bodies(options, options.files, cache), settings);
    }
    settings.requests = options.hits;
    settings.per_request_cpu = false;
    QLPhaseReport hits;
    hits.phase = "hit";
    hits.Add(RunLoadPhase(clients, Bodies(options, options.files, cache), settings));
    WritePhaseReport(hits, options.files, options.label, options.key_values, std::cout);
    failed += hits.Failed();
  }
  if (failed > 0) std::cerr << argv[0] << ": " << failed << " requests got no thumbnail\n";
  return failed > 0 ? 1 : 0;
}
