// The per-helper functions the frame calls, defined for the frame's own
// tests the way a helper process defines them for its binary.
#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "ipc/ql_abstract_helper.h"
#include "ipc/ql_process_helper_socket.h"
#include "main/ql_helper_process_main.h"

namespace {

// Answers every request with the payload it received.
class EchoHelper : public QLAbstractHelper {
 public:
  bool InitHelper() override { return true; }
  bool ProcessCommand(boost::shared_ptr<unsigned char> const& message, unsigned int length,
                      boost::shared_ptr<QLProcessHelperSocket> socket) override {
    return socket->Send(message.get(), length);
  }
};

}  // namespace

std::string GetLogFileName() { return "gd.log"; }
std::string GetProcessSocketName() { return "/tmp/ql_frame_test_socket_unused"; }
std::string GetProcessName() { return "ql_frame_fake"; }
boost::shared_ptr<QLAbstractHelper> GetProcessHelper() {
  return boost::shared_ptr<QLAbstractHelper>(new EchoHelper());
}
std::vector<QLCommandLineOption> GetHelperOptions() { return {}; }
