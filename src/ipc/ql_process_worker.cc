#include "ipc/ql_process_worker.h"

#include <exception>

#include "base/ql_status.h"
#include "ipc/ql_log_throttle.h"
#include "ipc/ql_process_socket_server.h"
#include "log/ql_log.h"
#include "service/ql_service_registry.h"

namespace {

// The one line for a connection's receive that delivered no whole frame.
// Every failure here is one a peer can cause at will, so each kind is
// written at most once a second, shared by all connections; a peer's
// orderly end is no failure and goes to DEBUG.
void LogReceiveEnd(QLStatus const& status) {
  if (status.ok()) return;  // closed on this side: nothing happened to say
  if (status.kind() == QLStatus::Kind::kClosed) {
    QL_DEBUG(status.ToString());
    return;
  }
  static QLLogThrottle lines[static_cast<int>(QLStatus::Kind::kIo) + 1];
  std::string note;
  if (lines[static_cast<int>(status.kind())].Allow(&note)) QL_ERROR(status.ToString() << note);
}

}  // namespace

QLProcessWorker::QLProcessWorker(boost::shared_ptr<QLProcessHelperSocket> socket,
                                 boost::shared_ptr<QLAbstractHelper> helper, int number)
    : socket_(socket), helper_(helper), stop_(false), number_(number) {}

QLProcessWorker::~QLProcessWorker() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == boost::this_thread::get_id()) {
    // The last owner was RunLoop's own reference: let the thread finish alone.
    thread_.detach();
  } else {
    // RunLoop has already returned (it holds a reference while it runs).
    thread_.join();
  }
}

void QLProcessWorker::Start(QLThreadStarter& threads) {
  QLMutexLock lock(&thread_mutex_);
  thread_ = threads.Start([this] { RunLoop(); });
}

void QLProcessWorker::RequestStop() {
  stop_ = true;
  // The worker's own thread closes the descriptor once its receive ends.
  if (socket_) socket_->Shutdown();
}

boost::thread QLProcessWorker::RequestStopAndTakeThread() {
  RequestStop();
  QLMutexLock lock(&thread_mutex_);
  if (!thread_.joinable() || thread_.get_id() == boost::this_thread::get_id()) {
    return boost::thread();
  }
  // Taken out under the mutex so only one caller ever waits, and waited for
  // without it so a worker stopping itself meanwhile never blocks on it.
  return boost::move(thread_);
}

void QLProcessWorker::Stop() {
  boost::thread finishing = RequestStopAndTakeThread();
  if (finishing.joinable()) finishing.join();
}

bool QLProcessWorker::StopBy(boost::chrono::steady_clock::time_point deadline) {
  boost::thread finishing = RequestStopAndTakeThread();
  if (!finishing.joinable() || finishing.try_join_until(deadline)) return true;
  finishing.detach();
  return false;
}

void QLProcessWorker::RunLoop() {
  // Start() runs while an owner holds the worker, so this cannot fail; the
  // reference keeps the object alive until the loop is really over.
  boost::shared_ptr<QLProcessWorker> self = shared_from_this();
  boost::shared_ptr<unsigned char> message;
  while (socket_ && socket_->IsValid() && !stop_) {
    message.reset();
    int const length = socket_->Receive(message);
    // A frame cut short by its peer (0 with the socket closed) has nobody
    // to answer; handing it on would log an ERROR line for every peer that
    // vanishes mid-frame, a line a flood of them could repeat at will.
    if (length < 0 || (length == 0 && !socket_->IsValid())) {
      LogReceiveEnd(socket_->receive_status());
      continue;
    }
    try {
      helper_->ProcessCommand(message, static_cast<unsigned int>(length), socket_);
    } catch (std::exception const& e) {
      // An escaping exception would end the whole process; end only this
      // connection.
      QL_ERROR("Worker " << number_ << ": request failed (" << e.what()
                         << "); closing the connection.");
      socket_->Close();
    }
  }
  message.reset();
  if (socket_) socket_->Close();
  boost::shared_ptr<QLProcessHelperSocketServerService> server =
      QLServiceRegistry::RetriveService<QLProcessHelperSocketServerService>(
          QLProcessHelperSocketServerService::kName);
  if (server) {
    boost::shared_ptr<QLProcessWorker> removed = server->RemoveWorker(number_);
    server.reset();
    removed.reset();
  }
  // `self` may be the last owner: the worker is then destroyed here, on its
  // own thread, and the destructor detaches the thread.
}
