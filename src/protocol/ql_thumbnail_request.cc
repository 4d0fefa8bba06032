#include "protocol/ql_thumbnail_request.h"

#include <boost/shared_ptr.hpp>

#include "json/json_parser.h"
#include "json/ql_json_type_bool.h"
#include "json/ql_json_type_int.h"
#include "json/ql_json_type_string.h"
#include "json/ql_request_data.h"
#include "json/ql_request_data_serializer.h"

char const kRequestPathKey[] = "_path";
char const kRequestWidthKey[] = "_width";
char const kRequestHeightKey[] = "_height";
char const kRequestFullScreenKey[] = "_full_screen";
char const kRequestResourceIdKey[] = "_resource_id";
char const kRequestThumbnailFolderKey[] = "_thumbnail_folder";
char const kRequestDefaultFolderKey[] = "_default_thumbnail_folder";
char const kRequestBackgroundKey[] = "_background";

namespace {

boost::shared_ptr<QLJsonTypeBase> Text(std::string const& value) {
  return boost::shared_ptr<QLJsonTypeBase>(new QLJsonTypeString(value));
}
boost::shared_ptr<QLJsonTypeBase> Number(long long value) {
  return boost::shared_ptr<QLJsonTypeBase>(new QLJsonTypeInt(value));
}
boost::shared_ptr<QLJsonTypeBase> Flag(bool value) {
  return boost::shared_ptr<QLJsonTypeBase>(new QLJsonTypeBool(value));
}

}  // namespace

std::string BuildRequestJson(QLThumbnailRequest const& request) {
  QLRequestData data;
  data.AddField(kRequestPathKey, Text(request.path));
  data.AddField(kRequestWidthKey, Number(request.width));
  data.AddField(kRequestHeightKey, Number(request.height));
  data.AddField(kRequestFullScreenKey, Flag(request.full_screen));
  // The daemon reads the identifier as a signed 64-bit number and uses all
  // of its bits, so identifiers above 2^63 travel as their negative twin.
  data.AddField(kRequestResourceIdKey, Number(static_cast<long long>(request.resource_id)));
  data.AddField(kRequestThumbnailFolderKey, Text(request.thumbnail_folder));
  data.AddField(kRequestDefaultFolderKey, Text(request.default_folder));
  if (request.background) data.AddField(kRequestBackgroundKey, Flag(true));
  return QLRequestDataSerializer::ToJsonString(&data);
}

bool ReadRequest(JSON::JSONParser const& parser, QLThumbnailRequest* request,
                 char const** missing_key) {
  char const* const keys[] = {kRequestPathKey,         kRequestWidthKey,
                              kRequestHeightKey,       kRequestFullScreenKey,
                              kRequestResourceIdKey,   kRequestThumbnailFolderKey,
                              kRequestDefaultFolderKey};
  boost::shared_ptr<JSON::JSONNode> nodes[7];
  for (int i = 0; i < 7; ++i) {
    nodes[i] = parser.node(keys[i]);
    if (!nodes[i]) {
      *missing_key = keys[i];
      return false;
    }
  }
  request->path = nodes[0]->stringValue;
  request->width = static_cast<std::uint32_t>(nodes[1]->intValue);
  request->height = static_cast<std::uint32_t>(nodes[2]->intValue);
  request->full_screen = nodes[3]->boolValue;
  request->resource_id = static_cast<std::uint64_t>(nodes[4]->intValue);
  request->thumbnail_folder = nodes[5]->stringValue;
  request->default_folder = nodes[6]->stringValue;
  boost::shared_ptr<JSON::JSONNode> const background = parser.node(kRequestBackgroundKey);
  request->background = background && background->boolValue;
  return true;
}
