// A JSON integer value (signed 64-bit). Plain value: owned by its builder,
// no locking.
#ifndef QUORLIN_JSON_QL_JSON_TYPE_INT_H_
#define QUORLIN_JSON_QL_JSON_TYPE_INT_H_

#include "json/ql_json_type_base.h"

class QLJsonTypeInt : public QLJsonTypeBase {
 public:
  explicit QLJsonTypeInt(long long value);
  QLJsonTypeInt(QLJsonTypeInt const& other);
  ~QLJsonTypeInt() override;
  // An integer token with the text of ToString().
  void Serialize(json_printer* printer, std::string const& key) const override;
  // The value in decimal, with a minus sign when negative.
  std::string ToString() const override;

 private:
  long long value_;
};

#endif  // QUORLIN_JSON_QL_JSON_TYPE_INT_H_
