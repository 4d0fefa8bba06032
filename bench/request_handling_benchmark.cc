// Cost of one request inside the daemon when the thumbnail is cached: the
// command handler parses the framed JSON, fills the record, finds the cached
// PNG and sends it back over a local socket (read here from the other end).
// This is the in-process share of an end-to-end cache hit. Run with the log
// level at 0 (errors only) and at 3 (the default, every statement formatted
// into a stream on /dev/null).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <boost/shared_ptr.hpp>
#include <fstream>
#include <string>
#include <vector>

#include "base/ql_array_deleter.h"
#include "ipc/ql_process_helper_socket.h"
#include "log/ql_log.h"
#include "ql_photo_synth.h"
#include "support/ql_temp_dir.h"
#include "thumbnail/ql_gd_helper.h"

namespace {

bool ReadAll(int fd, unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    ssize_t const got = read(fd, bytes, size);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// Reads one framed reply; its payload length, or -1.
long ReadReply(int fd, std::vector<unsigned char>& buffer) {
  unsigned char header[4];
  if (!ReadAll(fd, header, 4)) return -1;
  std::size_t const length = (std::size_t(header[0]) << 24) | (std::size_t(header[1]) << 16) |
                             (std::size_t(header[2]) << 8) | header[3];
  if (length > (64u << 20)) return -1;
  buffer.resize(length);
  return ReadAll(fd, buffer.data(), length) ? static_cast<long>(length) : -1;
}

// A photo, a cache folder and the request for the photo's thumbnail, in a
// folder any user may use (the caller may be another user).
struct CacheHitSetUp {
  CacheHitSetUp() {
    chmod(folder.c_str(), 0777);
    QLPhotoSpec photo_spec;
    photo_spec.width = 1632;
    photo_spec.height = 1224;
    ScopedPhoto photo = DrawPhoto(photo_spec);
    std::vector<unsigned char> const jpeg = EncodeJpeg(photo.get(), 90, false);
    std::ofstream(photo_path.c_str(), std::ios::binary)
        .write(reinterpret_cast<char const*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
    chmod(photo_path.c_str(), 0644);
    std::string const request = "{\"_path\":\"" + photo_path +
                                "\",\"_width\":160,\"_height\":120,\"_full_screen\":false,"
                                "\"_resource_id\":4242,\"_thumbnail_folder\":\"" +
                                folder + "/cache\",\"_default_thumbnail_folder\":\"" + folder +
                                "\"}";
    size = static_cast<unsigned int>(request.size());
    message.reset(new unsigned char[size], arrayDeleter<unsigned char>());
    std::copy(request.begin(), request.end(), message.get());
  }

  // Asks once, untimed (the first request makes and caches the thumbnail),
  // then once per iteration; false when a reply holds no thumbnail.
  bool Run(benchmark::State& state, QLGDHelper& helper,
           boost::shared_ptr<QLProcessHelperSocket> const& server, int client) {
    std::vector<unsigned char> reply;
    helper.ProcessCommand(message, size, server);
    long got = ReadReply(client, reply);
    for (auto _ : state) {
      helper.ProcessCommand(message, size, server);
      got = ReadReply(client, reply);
      if (got < 8) {
        state.SkipWithError("no thumbnail in the reply");
        return false;
      }
    }
    state.counters["reply_bytes"] = static_cast<double>(got);
    return true;
  }

  QLTempDir const scratch;
  std::string const folder = scratch.path();
  std::string const photo_path = folder + "/photo.jpg";
  boost::shared_ptr<unsigned char> message;
  unsigned int size = 0;
};

void BM_ProcessCommandCacheHit(benchmark::State& state) {
  CacheHitSetUp setup;
  int const saved_level = ql_log_level;
  boost::shared_ptr<std::ostream> const saved_stream = qlloggeros;
  ql_log_level = static_cast<int>(state.range(0));
  qlloggeros.reset(new std::ofstream("/dev/null"));

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("no socket pair");
    return;
  }
  boost::shared_ptr<QLProcessHelperSocket> server(new QLProcessHelperSocket("bench"));
  server->set_m_sock(fds[0]);
  QLGDHelper helper;
  setup.Run(state, helper, server, fds[1]);
  server->Close();
  close(fds[1]);
  ql_log_level = saved_level;
  qlloggeros = saved_stream;
}
BENCHMARK(BM_ProcessCommandCacheHit)
    ->ArgName("log_level")
    ->Arg(0)
    ->Arg(3)
    ->Unit(benchmark::kMicrosecond);

// The same cache hit on an accepted connection, at the default log level,
// from root (as before) or from another user, whose rights the daemon then
// takes for the request; with an allowed root, every open goes through it.
// Needs root.
void BM_ProcessCommandCacheHitForCaller(benchmark::State& state) {
  if (geteuid() != 0) {
    state.SkipWithError("needs root");
    return;
  }
  CacheHitSetUp setup;
  uid_t const caller = state.range(0) ? 54321 : 0;
  QLProcessHelperSocket listener(setup.folder + "/socket");
  boost::shared_ptr<QLProcessHelperSocket> server(new QLProcessHelperSocket("bench"));
  // The kernel records the ids of whoever connects.
  int client = -1;
  if (listener.InitSocketServer().ok() && chmod((setup.folder + "/socket").c_str(), 0666) == 0 &&
      setegid(caller) == 0 && seteuid(caller) == 0) {
    client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string const path = setup.folder + "/socket";
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) client = -1;
  }
  if (seteuid(0) != 0 || setegid(0) != 0 || client < 0 || !listener.Accept(server).ok()) {
    state.SkipWithError("no connection");
    return;
  }
  int const saved_level = ql_log_level;
  ql_log_level = 0;
  QLGDHelper helper;
  if (state.range(1)) {
    QLPathConfinement confined;
    std::string error;
    confined.AddRoot(setup.folder, &error);
    helper.SetConfinement(confined);
    helper.provider().SetConfinement(confined);
  }
  setup.Run(state, helper, server, client);
  close(client);
  ql_log_level = saved_level;
}
BENCHMARK(BM_ProcessCommandCacheHitForCaller)
    ->ArgNames({"other_user", "allowed_root"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
