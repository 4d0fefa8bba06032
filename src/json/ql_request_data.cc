#include "json/ql_request_data.h"

#include "json/ql_request_data_serializer.h"

QLRequestData::QLRequestData() {}

QLRequestData::~QLRequestData() {}

void QLRequestData::AddField(std::string const& key,
                             boost::shared_ptr<QLJsonTypeBase> const& value) {
  fields_.AddField(key, value);
}

std::string QLRequestData::ToJsonString() { return QLRequestDataSerializer::ToJsonString(this); }

std::string QLRequestData::ToUrlString() { return fields_.ToString(); }
