#include "main/ql_service_registry.h"

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

// The registry shares ownership; a second registration replaces and releases
// the first outside the registry's lock, so a service may use the registry
// while destroyed (else this would deadlock).
TEST(QLServiceRegistryTest, SecondRegistrationReplacesAndReleasesTheFirst) {
  std::atomic<int> destroyed(0);
  QLServiceRegistry::RegisterService("Registry.replace",
                                     boost::shared_ptr<QLService>(new CountedService(&destroyed)));
  EXPECT_EQ(0, destroyed.load());
  boost::shared_ptr<CountedService> second(new CountedService(&destroyed));
  QLServiceRegistry::RegisterService("Registry.replace", second);
  EXPECT_EQ(1, destroyed.load());
  EXPECT_EQ(second, QLServiceRegistry::RetriveService<CountedService>("Registry.replace"));
  EXPECT_FALSE(QLServiceRegistry::RetriveService<CountedService>("Registry.replac"));
  QLServiceRegistry::RegisterService("RegistryUsing.self",
                                     boost::shared_ptr<QLService>(new RegistryUsingService));
  QLServiceRegistry::RegisterService("RegistryUsing.self", boost::shared_ptr<QLService>());
  EXPECT_FALSE(QLServiceRegistry::RetriveService<QLService>("RegistryUsing.self"));
}

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
