#include "ipc/ql_process_socket_server.h"

#include <boost/thread/exceptions.hpp>
#include <boost/thread/lock_guard.hpp>
#include <vector>

#include "ipc/ql_process_worker.h"
#include "log/ql_log.h"

const std::string QLProcessHelperSocketServerService::kName = "QLProcessHelperSocketServerService";

QLProcessHelperSocketServerService::QLProcessHelperSocketServerService(
    std::string const& socket_name, boost::shared_ptr<QLAbstractHelper> helper)
    : helper_(helper), socket_name_(socket_name), socket_(socket_name), stop_(false) {}

QLProcessHelperSocketServerService::~QLProcessHelperSocketServerService() {}

bool QLProcessHelperSocketServerService::InitHelper() { return helper_ && helper_->InitHelper(); }

void QLProcessHelperSocketServerService::StartServer() {
  if (!socket_.InitSocketServer()) return;
  int counter = 0;
  while (!stop_) {
    QL_INFO(" (" << socket_name_ << ") "
                 << "Wait for connection...");
    boost::shared_ptr<QLProcessHelperSocket> client(new QLProcessHelperSocket(socket_name_));
    if (!socket_.Accept(client)) continue;

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
      boost::shared_ptr<QLProcessWorker> worker(new QLProcessWorker(client, helper_, counter));
      workers_[counter] = worker;
      QL_DEBUG("Add Worker - count: " << workers_.size());
      try {
        worker->Start();
      } catch (boost::thread_resource_error const& e) {
        workers_.erase(counter);
        QL_ERROR("Worker " << counter << " thread could not start (" << e.what()
                           << "); connection dropped. Workers left: " << workers_.size());
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
  // The copies keep every worker alive while its thread is waited for.
  for (size_t i = 0; i < workers.size(); ++i) workers[i]->Stop();
  {
    boost::lock_guard<boost::recursive_mutex> lock(mutex_);
    workers_.clear();
  }
}

boost::shared_ptr<QLProcessWorker> QLProcessHelperSocketServerService::RemoveWorker(int number) {
  boost::lock_guard<boost::recursive_mutex> lock(mutex_);
  std::map<int, boost::shared_ptr<QLProcessWorker>>::iterator it = workers_.find(number);
  if (it == workers_.end()) return boost::shared_ptr<QLProcessWorker>();
  boost::shared_ptr<QLProcessWorker> worker = it->second;
  workers_.erase(it);
  QL_DEBUG("Remove Worker - count: " << workers_.size());
  return worker;
}

std::size_t QLProcessHelperSocketServerService::WorkerCount() const {
  boost::lock_guard<boost::recursive_mutex> lock(mutex_);
  return workers_.size();
}
