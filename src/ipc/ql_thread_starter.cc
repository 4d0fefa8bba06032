#include "ipc/ql_thread_starter.h"

namespace {

class QLSystemThreadStarter : public QLThreadStarter {
 public:
  boost::thread Start(std::function<void()> const& body) override { return boost::thread(body); }
};

}  // namespace

boost::shared_ptr<QLThreadStarter> QLThreadStarter::Default() {
  static boost::shared_ptr<QLThreadStarter> const starter(new QLSystemThreadStarter);
  return starter;
}
