#include "service/ql_service_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

class CountedService : public QLService {
 public:
  explicit CountedService(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
  ~CountedService() override { ++*destroyed_; }

 private:
  std::atomic<int>* destroyed_;
};

// A service whose destructor uses the registry, as a stopping server would.
class RegistryUsingService : public QLService {
 public:
  ~RegistryUsingService() override {
    seen_ = QLServiceRegistry::RetriveService<QLService>("RegistryUsing.other");
  }
  boost::shared_ptr<QLService> seen_;
};

TEST(QLServiceRegistryTest, LookupsWhileRegisteringAreSafe) {
  std::atomic<int> destroyed(0);
  std::atomic<bool> done(false);
  std::thread reader([&] {
    while (!done) QLServiceRegistry::RetriveService<CountedService>("Registry.concurrent");
  });
  for (int i = 0; i < 200; ++i) {
    QLServiceRegistry::RegisterService("Registry.concurrent.other" + std::to_string(i),
                                       boost::shared_ptr<QLService>());
    QLServiceRegistry::RegisterService(
        "Registry.concurrent", boost::shared_ptr<QLService>(new CountedService(&destroyed)));
  }
  done = true;
  reader.join();
  EXPECT_EQ(199, destroyed.load());
}

}  // namespace
