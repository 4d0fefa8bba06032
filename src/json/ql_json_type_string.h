// A JSON string value (any bytes). Plain value: owned by its builder, no
// locking.
#ifndef QUORLIN_JSON_QL_JSON_TYPE_STRING_H_
#define QUORLIN_JSON_QL_JSON_TYPE_STRING_H_

#include "json/ql_json_type_base.h"

class QLJsonTypeString : public QLJsonTypeBase {
 public:
  explicit QLJsonTypeString(std::string const& value);
  QLJsonTypeString(QLJsonTypeString const& other);
  ~QLJsonTypeString() override;
  // A string token; the printer escapes it.
  void Serialize(json_printer* printer, std::string const& key) const override;
  // The string itself.
  std::string ToString() const override;

 private:
  std::string value_;
};

#endif  // QUORLIN_JSON_QL_JSON_TYPE_STRING_H_
