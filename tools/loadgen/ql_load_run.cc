#include "ql_load_run.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/ql_status.h"
#include "ipc/ql_process_helper_socket.h"
#include "log/ql_log.h"
#include "protocol/ql_thumbnail_format.h"
#include "ql_process_usage.h"

namespace {

typedef std::chrono::steady_clock Clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A PNG, JPEG or WebP thumbnail, whichever the daemon makes.
bool IsPicture(unsigned char const* bytes, int length) {
  QLThumbnailFormat format;
  return length > 0 && SniffThumbnailFormat(bytes, static_cast<std::size_t>(length), &format);
}

}  // namespace

QLLoadConnection::QLLoadConnection(std::string socket_path, unsigned int timeout_seconds)
    : socket_path_(std::move(socket_path)), timeout_seconds_(timeout_seconds) {}

QLLoadConnection::~QLLoadConnection() { Disconnect(); }

void QLLoadConnection::Disconnect() {
  if (socket_) socket_->Close();
  socket_.reset();
}

bool QLLoadConnection::Connect() {
  std::unique_ptr<QLProcessHelperSocket> socket(new QLProcessHelperSocket(socket_path_));
  QLStatus const connected = socket->ConnectToServer();
  if (!connected.ok()) {
    QL_ERROR(connected.ToString());
    return false;
  }
  struct timeval timeout = {static_cast<time_t>(timeout_seconds_), 0};
  setsockopt(socket->m_sock_value(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(socket->m_sock_value(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  socket_ = std::move(socket);
  return true;
}

QLReplyKind QLLoadConnection::Exchange(std::string const& body, std::size_t* reply_bytes) {
  *reply_bytes = 0;
  if (!socket_ && !Connect()) return kReplyNone;
  if (!socket_->Send(reinterpret_cast<unsigned char const*>(body.data()),
                     static_cast<unsigned int>(body.size()))) {
    Disconnect();
    return kReplyNone;
  }
  boost::shared_ptr<unsigned char> reply;
  int const length = socket_->Receive(reply);
  if (length <= 0 || !reply) {
    Disconnect();
    return kReplyNone;
  }
  *reply_bytes = static_cast<std::size_t>(length);
  if (length == 1 && reply.get()[0] == 0) return kReplyNoThumbnail;
  return IsPicture(reply.get(), length) ? kReplyPicture : kReplyNotPicture;
}

std::size_t QLLoadPhaseResult::Count(QLReplyKind kind) const {
  std::size_t count = 0;
  for (QLRequestSample const& sample : samples) count += sample.kind == kind ? 1 : 0;
  return count;
}

std::vector<double> QLLoadPhaseResult::Latencies(QLReplyKind kind) const {
  std::vector<double> latencies;
  for (QLRequestSample const& sample : samples) {
    if (sample.kind == kind) latencies.push_back(sample.latency_ms);
  }
  return latencies;
}

QLLoadPhaseResult RunLoadPhase(std::vector<std::unique_ptr<QLLoadConnection>>& clients,
                               std::vector<std::string> const& bodies,
                               QLLoadPhaseSettings const& settings) {
  QLLoadPhaseResult result;
  if (clients.empty() || bodies.empty()) return result;

  bool const per_request_cpu =
      settings.per_request_cpu && settings.daemon_pid > 0 && clients.size() == 1;

  std::atomic<std::size_t> next(0);
  std::atomic<std::size_t> ready(0);
  std::atomic<bool> go(false);
  std::vector<std::vector<QLRequestSample>> per_client(clients.size());
  std::vector<std::thread> threads;
  for (std::size_t c = 0; c < clients.size(); ++c) {
    threads.emplace_back([&, c]() {
      QLLoadConnection& connection = *clients[c];
      std::vector<QLRequestSample>& samples = per_client[c];
      ++ready;
      while (!go.load()) std::this_thread::yield();
      for (;;) {
        std::size_t const k = next.fetch_add(1);
        if (k >= settings.requests) break;
        QLRequestSample sample;
        sample.body_index = k % bodies.size();
        std::int64_t const cpu_before =
            per_request_cpu ? ReadProcessCpuNanoseconds(settings.daemon_pid) : -1;
        std::size_t bytes = 0;
        Clock::time_point const start = Clock::now();
        sample.kind = connection.Exchange(bodies[sample.body_index], &bytes);
        sample.latency_ms = MillisecondsSince(start);
        if (cpu_before >= 0) {
          std::int64_t const cpu_after = ReadProcessCpuNanoseconds(settings.daemon_pid);
          if (cpu_after >= cpu_before) sample.daemon_cpu_ms = (cpu_after - cpu_before) / 1e6;
        }
        if (settings.new_connection_per_request) connection.Disconnect();
        samples.push_back(sample);
      }
    });
  }
  while (ready.load() < clients.size()) std::this_thread::yield();

  QLProcessUsage const before =
      settings.daemon_pid > 0 ? ReadProcessUsage(settings.daemon_pid) : QLProcessUsage();
  Clock::time_point const start = Clock::now();
  go = true;
  for (std::thread& thread : threads) thread.join();
  result.wall_seconds = MillisecondsSince(start) / 1000.0;
  if (before.ok) {
    QLProcessUsage const after = ReadProcessUsage(settings.daemon_pid);
    if (after.ok) {
      result.daemon_cpu_seconds = after.cpu_seconds - before.cpu_seconds;
      result.daemon_peak_rss_kb = after.peak_rss_kb;
    }
  }
  for (std::vector<QLRequestSample>& samples : per_client) {
    result.samples.insert(result.samples.end(), samples.begin(), samples.end());
  }
  return result;
}
