// A stand-in for the daemon on a socket of its own: reads framed requests
// (4-byte big-endian length, payload) on every connection and answers each
// with a framed reply chosen from the request's text.
//
// The server owns its listening socket, an accept thread and one thread per
// connection; the destructor stops and joins them all. Counters may be read
// from any thread.
#ifndef QUORLIN_TESTS_LOADGEN_FAKE_THUMBNAIL_SERVER_H_
#define QUORLIN_TESTS_LOADGEN_FAKE_THUMBNAIL_SERVER_H_

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeThumbnailServer {
 public:
  // Replies: a request containing "no-thumbnail" gets the one zero byte, one
  // containing "not-png" gets "hello", one containing "hang-up" gets the
  // connection closed, any other a small PNG-signed reply. Every request
  // first burns `cpu_ms_per_request` of CPU time.
  explicit FakeThumbnailServer(std::string path, int cpu_ms_per_request = 0);
  ~FakeThumbnailServer();
  FakeThumbnailServer(FakeThumbnailServer const&) = delete;
  FakeThumbnailServer& operator=(FakeThumbnailServer const&) = delete;

  bool listening() const { return listener_ >= 0; }
  int connections() const { return connections_.load(); }
  int requests() const { return requests_.load(); }

 private:
  void AcceptLoop();
  void Serve(int fd);

  std::string path_;
  int cpu_ms_per_request_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> requests_{0};
  std::thread acceptor_;
  std::mutex mutex_;  // guards workers_ and fds_
  std::vector<std::thread> workers_;
  std::vector<int> fds_;
};

#endif  // QUORLIN_TESTS_LOADGEN_FAKE_THUMBNAIL_SERVER_H_
