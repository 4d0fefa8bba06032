#include "fake_thumbnail_server.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "support/ql_socket_pair.h"

namespace {

void BurnCpuMs(int ms) {
  if (ms <= 0) return;
  struct timespec start, now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
  volatile unsigned sink = 0;
  do {
    for (int i = 0; i < 1000; ++i) sink = sink * 31u + static_cast<unsigned>(i);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  } while ((now.tv_sec - start.tv_sec) * 1000.0 + (now.tv_nsec - start.tv_nsec) / 1e6 < ms);
}

}  // namespace

FakeThumbnailServer::FakeThumbnailServer(std::string path, int cpu_ms_per_request)
    : path_(std::move(path)), cpu_ms_per_request_(cpu_ms_per_request) {
  int const fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
  unlink(path_.c_str());
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(fd, 50) != 0) {
    if (fd >= 0) close(fd);
    return;
  }
  listener_ = fd;
  acceptor_ = std::thread(&FakeThumbnailServer::AcceptLoop, this);
}

FakeThumbnailServer::~FakeThumbnailServer() {
  stopping_ = true;
  if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& worker : workers_) worker.join();
  for (int fd : fds_) close(fd);
  if (listener_ >= 0) close(listener_);
  unlink(path_.c_str());
}

void FakeThumbnailServer::AcceptLoop() {
  while (!stopping_) {
    int const fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) break;
    ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    fds_.push_back(fd);
    workers_.emplace_back(&FakeThumbnailServer::Serve, this, fd);
  }
}

void FakeThumbnailServer::Serve(int fd) {
  for (;;) {
    std::string header, body;
    if (!ReadExactly(fd, 4, &header, -1)) return;
    unsigned char const* b = reinterpret_cast<unsigned char const*>(header.data());
    std::uint32_t const n = (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) |
                            (std::uint32_t(b[2]) << 8) | b[3];
    if (n > (1u << 20) || !ReadExactly(fd, n, &body, -1)) return;
    ++requests_;
    BurnCpuMs(cpu_ms_per_request_);
    if (body.find("hang-up") != std::string::npos) {
      shutdown(fd, SHUT_RDWR);
      return;
    }
    std::string reply;
    if (body.find("no-thumbnail") != std::string::npos) {
      reply.assign(1, '\0');
    } else if (body.find("not-png") != std::string::npos) {
      reply = "hello";
    } else {
      reply = "\x89PNG\r\n\x1a\nrest-of-a-thumbnail";
    }
    if (!WriteAll(fd, Frame(reply))) return;
  }
}
