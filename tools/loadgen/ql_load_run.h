// Client connections to the daemon's socket and one timed phase of load:
// several clients sending framed thumbnail requests at the same time, each
// waiting for its reply before sending the next, as the product's own
// callers do.
//
// A QLLoadConnection belongs to one thread at a time. RunLoadPhase gives
// each connection in `clients` to a thread of its own for the phase and
// takes them back before returning, so connections (and with them the
// daemon's worker threads) can outlive a phase. Bodies are only read.
#ifndef QUORLIN_TOOLS_LOADGEN_QL_LOAD_RUN_H_
#define QUORLIN_TOOLS_LOADGEN_QL_LOAD_RUN_H_

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class QLProcessHelperSocket;

enum QLReplyKind {
  kReplyPicture,      // a PNG, JPEG or WebP thumbnail
  kReplyNoThumbnail,  // the one-byte "no thumbnail" reply
  kReplyNotPicture,   // a reply that is neither
  kReplyNone,         // could not connect, send or receive
};

class QLLoadConnection {
 public:
  QLLoadConnection(std::string socket_path, unsigned int timeout_seconds);
  ~QLLoadConnection();
  QLLoadConnection(QLLoadConnection const&) = delete;
  QLLoadConnection& operator=(QLLoadConnection const&) = delete;

  // Sends one request and waits for its reply, connecting first when not
  // connected. After kReplyNone the connection is dropped; the next call
  // connects again. `reply_bytes` gets the reply's length (0 without one).
  QLReplyKind Exchange(std::string const& body, std::size_t* reply_bytes);
  void Disconnect();
  bool connected() const { return socket_ != nullptr; }

 private:
  bool Connect();

  std::string socket_path_;
  unsigned int timeout_seconds_;
  std::unique_ptr<QLProcessHelperSocket> socket_;
};

struct QLRequestSample {
  std::size_t body_index = 0;
  QLReplyKind kind = kReplyNone;
  double latency_ms = 0;      // send to full reply, seen by the client
  double daemon_cpu_ms = -1;  // the daemon's CPU time over the request; -1: not measured
};

struct QLLoadPhaseSettings {
  std::size_t requests = 0;  // request k sends bodies[k % bodies.size()]
  bool new_connection_per_request = false;
  // When set: the daemon's CPU time and peak memory over the phase.
  pid_t daemon_pid = 0;
  // Also the daemon's CPU time per request (the whole process's, threads
  // that ended included); honoured only with a daemon pid and one client,
  // so that requests do not overlap. Costs two clock reads per request.
  bool per_request_cpu = false;
};

struct QLLoadPhaseResult {
  std::vector<QLRequestSample> samples;  // in completion order per client
  double wall_seconds = 0;               // first send to last reply
  double daemon_cpu_seconds = -1;        // -1: not measured
  long daemon_peak_rss_kb = -1;          // VmHWM after the phase; -1: not measured

  std::size_t Count(QLReplyKind kind) const;
  // Latencies of the requests that got `kind`.
  std::vector<double> Latencies(QLReplyKind kind) const;
};

// Runs settings.requests requests over `clients` (one thread per client)
// and returns when all have been answered or have failed. Empty `clients`
// or `bodies` gives an empty result.
QLLoadPhaseResult RunLoadPhase(std::vector<std::unique_ptr<QLLoadConnection>>& clients,
                               std::vector<std::string> const& bodies,
                               QLLoadPhaseSettings const& settings);

#endif  // QUORLIN_TOOLS_LOADGEN_QL_LOAD_RUN_H_
