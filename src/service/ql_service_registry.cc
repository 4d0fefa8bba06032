#include "service/ql_service_registry.h"

QLMutex QLServiceRegistry::services_mutex_;
std::map<std::string, boost::shared_ptr<QLService>> QLServiceRegistry::services_;

void QLServiceRegistry::RegisterService(std::string const& name,
                                        boost::shared_ptr<QLService> const& service) {
  boost::shared_ptr<QLService> replaced;
  {
    QLMutexLock lock(&services_mutex_);
    boost::shared_ptr<QLService>& slot = services_[name];
    replaced.swap(slot);
    slot = service;
  }
  // `replaced` is released here, outside the mutex.
}

boost::shared_ptr<QLService> QLServiceRegistry::Lookup(std::string const& name) {
  QLMutexLock lock(&services_mutex_);
  std::map<std::string, boost::shared_ptr<QLService>>::const_iterator it = services_.find(name);
  if (it == services_.end()) return boost::shared_ptr<QLService>();
  return it->second;
}
