#include "json/ql_json_type_array.h"

QLJsonTypeArray::QLJsonTypeArray() {}

QLJsonTypeArray::~QLJsonTypeArray() {}

void QLJsonTypeArray::Serialize(json_printer* printer, std::string const& key) const {
  SerializeKey(printer, key);
  json_print_pretty(printer, JSON_ARRAY_BEGIN, nullptr, 0);
  for (auto const& value : values_) value->Serialize(printer, std::string());
  json_print_pretty(printer, JSON_ARRAY_END, nullptr, 0);
}

std::string QLJsonTypeArray::ToString() const { return "QLJsonTypeArray"; }

void QLJsonTypeArray::AddValue(boost::shared_ptr<QLJsonTypeBase> const& value) {
  if (value) values_.push_back(value);
}
