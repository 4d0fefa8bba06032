// A connected pair of local stream sockets: `ours` is a QLProcessHelperSocket
// holding one end, the other end is a raw descriptor the test drives byte by
// byte. Frame helpers speak the 4-byte big-endian length format.
//
// The pair is used by one test; the raw end may be used from one other
// thread at a time.
#ifndef QUORLIN_TESTS_SUPPORT_QL_SOCKET_PAIR_H_
#define QUORLIN_TESTS_SUPPORT_QL_SOCKET_PAIR_H_

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "ipc/ql_process_helper_socket.h"

class QLSocketPair {
 public:
  QLSocketPair();
  ~QLSocketPair();
  QLSocketPair(QLSocketPair const&) = delete;
  QLSocketPair& operator=(QLSocketPair const&) = delete;

  boost::shared_ptr<QLProcessHelperSocket> ours() const { return ours_; }
  int peer() const { return peer_; }
  void ClosePeer();

 private:
  boost::shared_ptr<QLProcessHelperSocket> ours_;
  int peer_;
};

// The four length bytes, most significant first.
std::string LengthBytes(uint32_t length);
// Length bytes followed by the payload.
std::string Frame(std::string const& payload);
// Writes all of `bytes`; false on error.
bool WriteAll(int fd, std::string const& bytes);
// Reads one frame's payload.
bool ReadFrame(int fd, std::string* payload, int timeout_ms = 5000);
// True when the peer has closed (end of stream or reset) within
// `timeout_ms`; data still arriving before that is read and dropped.
bool SeesEndOfStream(int fd, int timeout_ms);
// A client descriptor connected to the local socket at `path`, or -1.
int ConnectTo(std::string const& path);

#endif  // QUORLIN_TESTS_SUPPORT_QL_SOCKET_PAIR_H_
