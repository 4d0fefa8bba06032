// QLServiceRegistry: finds a running service by name for code that holds no
// reference to it (the stop sequence, ending worker threads).
//
// Contract:
//  - Never instantiated; all state is the static map `services_`, built
//    before main() and destroyed after it, which releases the services it
//    still holds.
//  - Any thread may call RegisterService and RetriveService. A small mutex
//    guards the map: the stop sequence runs on its own thread from the very
//    start of the process and may look a service up while main() registers
//    it. The mutex is never held while a service is destroyed, so a service
//    destructor may use the registry.
//  - RetriveService<T> converts with boost::static_pointer_cast: no type
//    check, the caller must know what was registered under the name.
#ifndef QUORLIN_SERVICE_QL_SERVICE_REGISTRY_H_
#define QUORLIN_SERVICE_QL_SERVICE_REGISTRY_H_

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <map>
#include <string>

#include "base/ql_mutex.h"
#include "service/ql_service.h"

class QLServiceRegistry : private boost::noncopyable {
 public:
  virtual ~QLServiceRegistry() {}

  // Stores `service` under `name`; a service already stored there is
  // replaced and released by the registry.
  static void RegisterService(std::string const& name, boost::shared_ptr<QLService> const& service)
      EXCLUDES(services_mutex_);

  // The service stored under `name` as a T, or an empty pointer.
  template <typename T>
  static boost::shared_ptr<T> RetriveService(std::string const& name) {
    return boost::static_pointer_cast<T>(Lookup(name));
  }

 private:
  QLServiceRegistry() {}
  static boost::shared_ptr<QLService> Lookup(std::string const& name) EXCLUDES(services_mutex_);

  static QLMutex services_mutex_;
  static std::map<std::string, boost::shared_ptr<QLService>> services_ GUARDED_BY(services_mutex_);
};

#endif  // QUORLIN_SERVICE_QL_SERVICE_REGISTRY_H_
