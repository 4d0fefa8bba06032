#include "thumbnail/ql_gd_helper.h"

#include "ipc/ql_process_helper_socket.h"

QLGDHelper::QLGDHelper() {}

QLGDHelper::~QLGDHelper() {}

bool QLGDHelper::InitHelper() { return true; }

// Until the request handling lands, every request gets the one-byte failure
// reply, so peers already see the final protocol.
bool QLGDHelper::ProcessCommand(boost::shared_ptr<unsigned char> const& /*message*/,
                                unsigned int /*length*/,
                                boost::shared_ptr<QLProcessHelperSocket> socket) {
  boost::shared_ptr<unsigned char> failure(new unsigned char[1], arrayDeleter<unsigned char>());
  failure.get()[0] = 0;
  if (socket && socket->IsValid()) socket->Send(failure.get(), 1);
  return true;
}

std::string GetLogFileName() { return "gd.log"; }

std::string GetProcessSocketName() { return "/tmp/qlGDProcesssSocket"; }

std::string GetProcessName() { return "quorlin_gd"; }

boost::shared_ptr<QLAbstractHelper> GetProcessHelper() {
  return boost::shared_ptr<QLAbstractHelper>(new QLGDHelper());
}
