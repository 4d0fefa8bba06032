// A JSON array of typed values, kept in insertion order. Owned by its
// builder; not copyable; no locking.
#ifndef QUORLIN_JSON_QL_JSON_TYPE_ARRAY_H_
#define QUORLIN_JSON_QL_JSON_TYPE_ARRAY_H_

#include <boost/shared_ptr.hpp>
#include <vector>

#include "json/ql_json_type_base.h"

class QLJsonTypeArray : public QLJsonTypeBase {
 public:
  QLJsonTypeArray();
  ~QLJsonTypeArray() override;
  // Array begin, every element without a key, array end.
  void Serialize(json_printer* printer, std::string const& key) const override;
  // The fixed text "QLJsonTypeArray": arrays have no URL form.
  std::string ToString() const override;

  // Appends an element. An empty pointer is ignored (there is nothing to
  // print for it).
  void AddValue(boost::shared_ptr<QLJsonTypeBase> const& value);

 private:
  std::vector<boost::shared_ptr<QLJsonTypeBase>> values_;
};

#endif  // QUORLIN_JSON_QL_JSON_TYPE_ARRAY_H_
