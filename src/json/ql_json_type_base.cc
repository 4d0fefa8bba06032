#include "json/ql_json_type_base.h"

QLJsonTypeBase::~QLJsonTypeBase() {}

void QLJsonTypeBase::SerializeKey(json_printer* printer, std::string const& key) {
  if (key.empty()) return;
  json_print_pretty(printer, JSON_KEY, key.data(), static_cast<uint32_t>(key.size()));
}
