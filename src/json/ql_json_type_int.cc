#include "json/ql_json_type_int.h"

QLJsonTypeInt::QLJsonTypeInt(long long value) : value_(value) {}

QLJsonTypeInt::QLJsonTypeInt(QLJsonTypeInt const& other) : QLJsonTypeBase(), value_(other.value_) {}

QLJsonTypeInt::~QLJsonTypeInt() {}

void QLJsonTypeInt::Serialize(json_printer* printer, std::string const& key) const {
  SerializeKey(printer, key);
  std::string text = ToString();
  json_print_pretty(printer, JSON_INT, text.data(), static_cast<uint32_t>(text.size()));
}

std::string QLJsonTypeInt::ToString() const { return std::to_string(value_); }
