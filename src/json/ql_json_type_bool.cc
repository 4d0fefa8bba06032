#include "json/ql_json_type_bool.h"

QLJsonTypeBool::QLJsonTypeBool(bool value) : value_(value) {}

QLJsonTypeBool::QLJsonTypeBool(QLJsonTypeBool const& other)
    : QLJsonTypeBase(), value_(other.value_) {}

QLJsonTypeBool::~QLJsonTypeBool() {}

void QLJsonTypeBool::Serialize(json_printer* printer, std::string const& key) const {
  SerializeKey(printer, key);
  json_print_pretty(printer, value_ ? JSON_TRUE : JSON_FALSE, nullptr, 0);
}

std::string QLJsonTypeBool::ToString() const { return value_ ? "true" : "false"; }
