#include "json/ql_json_type_string.h"

QLJsonTypeString::QLJsonTypeString(std::string const& value) : value_(value) {}

QLJsonTypeString::QLJsonTypeString(QLJsonTypeString const& other)
    : QLJsonTypeBase(), value_(other.value_) {}

QLJsonTypeString::~QLJsonTypeString() {}

void QLJsonTypeString::Serialize(json_printer* printer, std::string const& key) const {
  SerializeKey(printer, key);
  json_print_pretty(printer, JSON_STRING, value_.data(), static_cast<uint32_t>(value_.size()));
}

std::string QLJsonTypeString::ToString() const { return value_; }
