// QLService: the base of everything that can be stored in QLServiceRegistry.
//
// Contract: no data, not copyable; services are always owned through
// boost::shared_ptr (the registry shares ownership with whoever made them).
// Thread rules belong to each subclass.
#ifndef QUORLIN_SERVICE_QL_SERVICE_H_
#define QUORLIN_SERVICE_QL_SERVICE_H_

#include <boost/noncopyable.hpp>

class QLService : private boost::noncopyable {
 public:
  virtual ~QLService() {}
};

#endif  // QUORLIN_SERVICE_QL_SERVICE_H_
