// The interface of the typed JSON values that outgoing request data is built
// from (QLJsonTypeBool, ...Int, ...String, ...Array, ...Object).
//
// Contract:
//  - Values are held by boost::shared_ptr<QLJsonTypeBase> and owned by the
//    code that builds them; they cannot be copied through the base.
//  - Serialize prints the value as libjson printer tokens: a key token first
//    when `key` is not empty, then the value's own tokens.
//  - ToString gives the value's text for the URL form.
//  - No locking: a value tree belongs to the thread that builds it.
#ifndef QUORLIN_JSON_QL_JSON_TYPE_BASE_H_
#define QUORLIN_JSON_QL_JSON_TYPE_BASE_H_

#include <boost/noncopyable.hpp>
#include <string>

#include "libjson/json.h"

class QLJsonTypeBase : private boost::noncopyable {
 public:
  virtual ~QLJsonTypeBase();
  virtual void Serialize(json_printer* printer, std::string const& key) const = 0;
  virtual std::string ToString() const = 0;

 protected:
  QLJsonTypeBase() = default;
  // Prints the key token when `key` is not empty.
  static void SerializeKey(json_printer* printer, std::string const& key);
};

#endif  // QUORLIN_JSON_QL_JSON_TYPE_BASE_H_
