// Cost of one request inside the daemon when the thumbnail is cached: the
// command handler parses the framed JSON, fills the record, finds the cached
// PNG and sends it back over a local socket (read here from the other end).
// This is the in-process share of an end-to-end cache hit. Run with the log
// level at 0 (errors only) and at 3 (the default, every statement formatted
// into a stream on /dev/null).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
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

void BM_ProcessCommandCacheHit(benchmark::State& state) {
  QLTempDir const scratch;
  std::string const& folder = scratch.path();
  std::string const photo_path = folder + "/photo.jpg";
  {
    QLPhotoSpec photo_spec;
    photo_spec.width = 1632;
    photo_spec.height = 1224;
    ScopedPhoto photo = DrawPhoto(photo_spec);
    std::vector<unsigned char> const jpeg = EncodeJpeg(photo.get(), 90, false);
    std::ofstream(photo_path.c_str(), std::ios::binary)
        .write(reinterpret_cast<char const*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
  }
  std::string const request = "{\"_path\":\"" + photo_path +
                              "\",\"_width\":160,\"_height\":120,\"_full_screen\":false,"
                              "\"_resource_id\":4242,\"_thumbnail_folder\":\"" +
                              folder + "/cache\",\"_default_thumbnail_folder\":\"" + folder + "\"}";
  boost::shared_ptr<unsigned char> message(new unsigned char[request.size()],
                                           arrayDeleter<unsigned char>());
  std::copy(request.begin(), request.end(), message.get());

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
  std::vector<unsigned char> reply;
  // The first request makes and caches the thumbnail; the timed ones hit.
  helper.ProcessCommand(message, static_cast<unsigned int>(request.size()), server);
  long size = ReadReply(fds[1], reply);
  for (auto _ : state) {
    helper.ProcessCommand(message, static_cast<unsigned int>(request.size()), server);
    size = ReadReply(fds[1], reply);
    if (size < 8) {
      state.SkipWithError("no thumbnail in the reply");
      break;
    }
  }
  state.counters["reply_bytes"] = static_cast<double>(size);

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

}  // namespace
