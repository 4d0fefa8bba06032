// A JSON boolean value. Plain value: owned by its builder, no locking.
#ifndef QUORLIN_JSON_QL_JSON_TYPE_BOOL_H_
#define QUORLIN_JSON_QL_JSON_TYPE_BOOL_H_

#include "json/ql_json_type_base.h"

class QLJsonTypeBool : public QLJsonTypeBase {
 public:
  explicit QLJsonTypeBool(bool value);
  QLJsonTypeBool(QLJsonTypeBool const& other);
  ~QLJsonTypeBool() override;
  // true or false token.
  void Serialize(json_printer* printer, std::string const& key) const override;
  // "true" or "false".
  std::string ToString() const override;

 private:
  bool value_;
};

#endif  // QUORLIN_JSON_QL_JSON_TYPE_BOOL_H_
