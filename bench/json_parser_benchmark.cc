// Cost of reading one typical thumbnail request: the seven request keys with a
// 100-byte path, through JSON::JSONParser (and, for comparison, through the
// C callback parser alone and through the debug representation).
#include <benchmark/benchmark.h>

#include <string>

#include "json/json_parser.h"
#include "libjson/json.h"

namespace {

std::string TypicalRequest() {
  std::string path = "/srv/storage/share1/photos/2026/holiday/";
  while (path.size() < 96) path += 'p';
  path += ".jpg";  // 100 bytes
  return "{\"_path\":\"" + path +
         "\",\"_width\":160,\"_height\":120,\"_full_screen\":false,"
         "\"_resource_id\":\"d41d8cd98f00b204e9800998ecf8427e\","
         "\"_thumbnail_folder\":\"/srv/storage/.thumbnails\","
         "\"_default_thumbnail_folder\":\"/usr/share/quorlin_gd/defaults\"}";
}

void BM_JSONParserTypicalRequest(benchmark::State& state) {
  std::string const request = TypicalRequest();
  for (auto _ : state) {
    JSON::JSONParser parser;
    int rc = parser.parse(request.data(), static_cast<unsigned int>(request.size()));
    auto path = parser.node("_path");
    auto width = parser.node("_width");
    if (rc != 0 || !path || path->stringValue.size() != 100 || !width || width->intValue != 160) {
      state.SkipWithError("request did not parse as expected");
      break;
    }
    benchmark::DoNotOptimize(path);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * request.size());
}
BENCHMARK(BM_JSONParserTypicalRequest);

int CountEvents(void* userdata, int, const char*, uint32_t) {
  ++*static_cast<int*>(userdata);
  return 0;
}

void BM_LibJsonEventsTypicalRequest(benchmark::State& state) {
  std::string const request = TypicalRequest();
  for (auto _ : state) {
    int events = 0;
    json_parser parser;
    json_parser_init(&parser, nullptr, &CountEvents, &events);
    int rc =
        json_parser_string(&parser, request.data(), static_cast<uint32_t>(request.size()), nullptr);
    json_parser_free(&parser);
    if (rc != 0 || events != 16) {
      state.SkipWithError("unexpected libjson result");
      break;
    }
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * request.size());
}
BENCHMARK(BM_LibJsonEventsTypicalRequest);

void BM_JSONParserWithDebugRepresentation(benchmark::State& state) {
  std::string const request = TypicalRequest();
  for (auto _ : state) {
    JSON::JSONParser parser;
    parser.parse(request.data(), static_cast<unsigned int>(request.size()));
    std::string text = parser.buildJSONRepresentation();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_JSONParserWithDebugRepresentation);

}  // namespace
