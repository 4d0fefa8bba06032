#include "ipc/ql_process_socket_server.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <boost/thread/exceptions.hpp>
#include <boost/thread/lock_guard.hpp>
#include <sstream>
#include <vector>

#include "base/ql_status.h"
#include "ipc/ql_log_throttle.h"
#include "ipc/ql_process_worker.h"
#include "log/ql_log.h"

const std::string QLProcessHelperSocketServerService::kName = "QLProcessHelperSocketServerService";

namespace {

const useconds_t kAcceptPauseMicroseconds = 50 * 1000;

// While the process (or the system) has no descriptor or memory to spare,
// accept() fails at once and the connection stays in the backlog, so an
// immediate retry fails again: pause before retrying instead of burning a
// core, and log once per shortage. Waiting clients are served when
// resources come back.
void PauseIfOutOfResources(QLStatus const& failed, bool* reported) {
  int const error = failed.error();
  if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM) return;
  if (!*reported) {
    QL_ERROR("Cannot accept a connection (" << QLErrnoText(error)
                                            << "); retrying while resources are short.");
    *reported = true;
  }
  usleep(kAcceptPauseMicroseconds);
}

}  // namespace

bool QLProcessHelperSocketServerService::PeerAllowed(QLProcessHelperSocket& client) const {
  if (!peer_filter_.restricts()) return true;
  QLPeerCredentials const& peer = client.peer();
  // A peer refused again and again must not fill the log's disk.
  static QLLogThrottle lines;
  std::string note;
  if (client.has_peer() && peer_filter_.Allows(peer)) return true;
  if (lines.Allow(&note)) {
    if (!client.has_peer()) {
      QL_ERROR("Refused a connection whose peer credentials cannot be read." << note);
    } else {
      QL_ERROR("Refused a connection from uid " << peer.uid << " pid " << peer.pid
                                                << ": not an allowed user or group." << note);
    }
  }
  client.Close();
  return false;
}

bool QLProcessHelperSocketServerService::TakePeerSlot(QLProcessHelperSocket& client, int number) {
  // A peer whose credentials cannot be read is counted as one user of its own.
  uid_t const user = client.has_peer() ? client.peer().uid : static_cast<uid_t>(-1);
  std::size_t& open = user_connections_[user];
  if (user != 0 && max_peer_connections_ > 0 && open >= max_peer_connections_) {
    static QLLogThrottle lines;
    std::string note;
    if (lines.Allow(&note)) {
      QL_ERROR("Refused a connection from " << client.PeerText() << ": it has " << open
                                            << " connections open, the most one user may have."
                                            << note);
    }
    client.Close();
    return false;
  }
  ++open;
  worker_users_[number] = user;
  return true;
}

void QLProcessHelperSocketServerService::GivePeerSlot(int number) {
  std::map<int, uid_t>::iterator const it = worker_users_.find(number);
  if (it == worker_users_.end()) return;
  std::map<uid_t, std::size_t>::iterator const count = user_connections_.find(it->second);
  if (count != user_connections_.end() && --count->second == 0) user_connections_.erase(count);
  worker_users_.erase(it);
}

void QLProcessHelperSocketServerService::SetReceiveLimits(QLReceiveLimits const& limits) {
  receive_limits_ = limits;
}

void QLProcessHelperSocketServerService::SetMaxPeerConnections(std::size_t connections) {
  max_peer_connections_ = connections;
}

void QLProcessHelperSocketServerService::SetThreadStarter(
    boost::shared_ptr<QLThreadStarter> const& threads) {
  thread_starter_ = threads;
}

void QLProcessHelperSocketServerService::UseListeningSocket(int fd) {
  socket_.set_m_sock(fd);
  adopted_socket_ = true;
}

void QLProcessHelperSocketServerService::SetPeerFilter(QLPeerFilter const& filter) {
  peer_filter_ = filter;
}

void QLProcessHelperSocketServerService::SetSocketPathAccess(int mode, long group) {
  socket_.SetPathAccess(mode, group);
}

void QLProcessHelperSocketServerService::SetListeningCallback(std::function<void()> callback) {
  on_listening_ = std::move(callback);
}

QLProcessHelperSocketServerService::QLProcessHelperSocketServerService(
    std::string const& socket_name, boost::shared_ptr<QLAbstractHelper> helper)
    : helper_(helper),
      socket_name_(socket_name),
      socket_(socket_name),
      stop_(false),
      abandoned_(0) {
  receive_limits_.frame_timeout_ms = kDefaultFrameTimeoutMs;
}

QLProcessHelperSocketServerService::~QLProcessHelperSocketServerService() {}

bool QLProcessHelperSocketServerService::InitHelper() { return helper_ && helper_->InitHelper(); }

void QLProcessHelperSocketServerService::StartServer() {
  if (!adopted_socket_) {
    QLStatus const listening = socket_.InitSocketServer();
    if (!listening.ok()) {
      QL_ERROR(listening.ToString());
      return;
    }
  }
  if (on_listening_) on_listening_();
  if (!receive_limits_.budget) {
    receive_limits_.budget.reset(new QLReceiveBudget(
        QLReceiveBudget::DefaultFor(QLProcessHelperSocket::MaxMessageLength())));
  }
  int counter = 0;
  bool shortage_reported = false;
  while (!stop_) {
    QL_INFO(" (" << socket_name_ << ") "
                 << "Wait for connection...");
    boost::shared_ptr<QLProcessHelperSocket> client(new QLProcessHelperSocket(socket_name_));
    QLStatus const accepted = socket_.Accept(client);
    if (!accepted.ok()) {
      // A failed accept while stopping is how the loop ends: nothing to say.
      if (!client->IsValid() && !stop_) PauseIfOutOfResources(accepted, &shortage_reported);
      continue;
    }
    shortage_reported = false;
    if (!PeerAllowed(*client)) continue;

    {
      // Held until the thread object is in place, so StopServer never sees
      // a worker whose thread is still being started.
      boost::lock_guard<boost::recursive_mutex> lock(mutex_);
      // StopServer sets the flag before it copies the table under this
      // mutex: a connection accepted after that copy would never be stopped.
      if (stop_) {
        client->Close();
        continue;
      }
      if (!TakePeerSlot(*client, counter)) continue;
      client->SetReceiveLimits(receive_limits_);
      boost::shared_ptr<QLProcessWorker> worker(new QLProcessWorker(client, helper_, counter));
      workers_[counter] = worker;
      QL_DEBUG("Add Worker - count: " << workers_.size());
      try {
        worker->Start(*thread_starter_);
      } catch (boost::thread_resource_error const& e) {
        workers_.erase(counter);
        GivePeerSlot(counter);
        static QLLogThrottle lines;  // one line a second however many fail
        std::string note;
        if (lines.Allow(&note)) {
          QL_ERROR("Worker " << counter << " thread could not start (" << e.what()
                             << "); connection dropped. Workers left: " << workers_.size() << note);
        }
        client->Close();
      }
    }
    ++counter;
  }
  socket_.Close();
}

void QLProcessHelperSocketServerService::StopServer() {
  stop_ = true;
  // Wakes the accept; the accepting thread closes the listener on its way out.
  socket_.Shutdown();
  std::vector<boost::shared_ptr<QLProcessWorker>> workers;
  {
    boost::lock_guard<boost::recursive_mutex> lock(mutex_);
    workers.reserve(workers_.size());
    for (std::map<int, boost::shared_ptr<QLProcessWorker>>::const_iterator it = workers_.begin();
         it != workers_.end(); ++it) {
      workers.push_back(it->second);
    }
  }
  // Every connection is shut down before any thread is waited for, so all
  // workers wind down at once; waiting for each before shutting down the
  // next made the stop last as long as all their ends in a row (seconds
  // with hundreds of connections on a busy machine).
  for (size_t i = 0; i < workers.size(); ++i) workers[i]->RequestStop();
  // The copies keep every worker alive while its thread is waited for.
  boost::chrono::steady_clock::time_point const deadline =
      boost::chrono::steady_clock::now() + boost::chrono::milliseconds(kWorkerStopWaitMs);
  std::ostringstream stuck;
  std::size_t stuck_count = 0;
  for (size_t i = 0; i < workers.size(); ++i) {
    if (workers[i]->StopBy(deadline)) continue;
    stuck << (stuck_count++ ? ", " : "") << workers[i]->number();
  }
  if (stuck_count > 0) {
    abandoned_ += stuck_count;
    QL_ERROR("Workers still running " << kWorkerStopWaitMs << " ms into the stop: " << stuck.str()
                                      << "; stopping without them.");
  }
  {
    boost::lock_guard<boost::recursive_mutex> lock(mutex_);
    workers_.clear();
    worker_users_.clear();
    user_connections_.clear();
  }
}

boost::shared_ptr<QLProcessWorker> QLProcessHelperSocketServerService::RemoveWorker(int number) {
  boost::lock_guard<boost::recursive_mutex> lock(mutex_);
  std::map<int, boost::shared_ptr<QLProcessWorker>>::iterator it = workers_.find(number);
  if (it == workers_.end()) return boost::shared_ptr<QLProcessWorker>();
  boost::shared_ptr<QLProcessWorker> worker = it->second;
  workers_.erase(it);
  GivePeerSlot(number);
  QL_DEBUG("Remove Worker - count: " << workers_.size());
  return worker;
}

std::size_t QLProcessHelperSocketServerService::WorkerCount() const {
  boost::lock_guard<boost::recursive_mutex> lock(mutex_);
  return workers_.size();
}
