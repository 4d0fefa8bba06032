// A JSON object: named typed values kept in byte-wise key order. Owned by its
// builder; not copyable; no locking.
#ifndef QUORLIN_JSON_QL_JSON_TYPE_OBJECT_H_
#define QUORLIN_JSON_QL_JSON_TYPE_OBJECT_H_

#include <boost/shared_ptr.hpp>
#include <map>
#include <string>

#include "json/ql_json_type_base.h"

class QLJsonTypeObject : public QLJsonTypeBase {
 public:
  // Plain byte-wise order: a before b when a.compare(b) is negative.
  class QLContentMapKeyCompare {
   public:
    bool operator()(std::string const& a, std::string const& b) const { return a.compare(b) < 0; }
  };

  QLJsonTypeObject();
  ~QLJsonTypeObject() override;
  // Object begin, every field with its key in key order, object end. A field
  // whose key is empty is printed with an empty key ("": value), so the
  // output stays valid JSON.
  void Serialize(json_printer* printer, std::string const& key) const override;
  // key=UrlEncode(value text) per field in key order, joined by "&"; keys
  // are written as they are. Empty object: empty string.
  std::string ToString() const override;

  // Inserts the field unless the key is already present (the first value
  // given for a key stays). An empty pointer is ignored.
  void AddField(std::string const& key, boost::shared_ptr<QLJsonTypeBase> const& value);

 private:
  std::map<std::string, boost::shared_ptr<QLJsonTypeBase>, QLContentMapKeyCompare> fields_;
};

#endif  // QUORLIN_JSON_QL_JSON_TYPE_OBJECT_H_
