#include "json/ql_json_type_object.h"

#include "encoding/ql_encoding.h"

QLJsonTypeObject::QLJsonTypeObject() {}

QLJsonTypeObject::~QLJsonTypeObject() {}

void QLJsonTypeObject::Serialize(json_printer* printer, std::string const& key) const {
  SerializeKey(printer, key);
  json_print_pretty(printer, JSON_OBJECT_BEGIN, nullptr, 0);
  for (auto const& field : fields_) {
    // A member always needs a key token; without one the value would follow
    // the previous member directly and the text would not be JSON.
    if (field.first.empty()) json_print_pretty(printer, JSON_KEY, "", 0);
    field.second->Serialize(printer, field.first);
  }
  json_print_pretty(printer, JSON_OBJECT_END, nullptr, 0);
}

std::string QLJsonTypeObject::ToString() const {
  std::string out;
  bool first = true;
  for (auto const& field : fields_) {
    if (!first) out += '&';
    first = false;
    out += field.first;
    out += '=';
    out += UrlEncode(field.second->ToString());
  }
  return out;
}

void QLJsonTypeObject::AddField(std::string const& key,
                                boost::shared_ptr<QLJsonTypeBase> const& value) {
  if (!value) return;
  fields_.insert(std::make_pair(key, value));
}
