// One outgoing request's fields, printable as JSON text or as a URL query.
//
// Contract: owned by the code that builds it; not copyable; no locking (one
// thread builds and prints it).
#ifndef QUORLIN_JSON_QL_REQUEST_DATA_H_
#define QUORLIN_JSON_QL_REQUEST_DATA_H_

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <string>

#include "json/ql_json_type_object.h"

class QLRequestData : private boost::noncopyable {
 public:
  QLRequestData();
  virtual ~QLRequestData();

  // Adds a field; the first value given for a key stays.
  void AddField(std::string const& key, boost::shared_ptr<QLJsonTypeBase> const& value);

  // The fields as one JSON object (QLRequestDataSerializer::ToJsonString).
  std::string ToJsonString();
  // The fields as "key=value&..." with URL-encoded values, in key order.
  std::string ToUrlString();

  QLJsonTypeObject const& Fields() const { return fields_; }

 private:
  QLJsonTypeObject fields_;
};

#endif  // QUORLIN_JSON_QL_REQUEST_DATA_H_
