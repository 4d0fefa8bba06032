// Test helper: records libjson parser events as short texts, so whole event
// streams can be compared: "{" "}" "[" "]" "i:<text>" "f:<text>" "s:<text>"
// "k:<text>" "true" "false" "null".
#ifndef QUORLIN_TESTS_JSON_LIBJSON_EVENT_RECORDER_H_
#define QUORLIN_TESTS_JSON_LIBJSON_EVENT_RECORDER_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "libjson/json.h"

// The event text of one parser event or printer token (types in json.h order).
inline std::string EventText(int type, std::string const& data) {
  static char const* const kTexts[] = {
      "?", "[", "{", "]", "}", "i:", "f:", "s:", "k:", "true", "false", "null"};
  if (type < JSON_ARRAY_BEGIN || type > JSON_NULL) return "?";
  return kTexts[type] + (type >= JSON_INT && type <= JSON_KEY ? data : std::string());
}

struct LibJsonEventRecorder {
  std::vector<std::string> events;
  // Return this from the callback after `stop_after` events (-1: never).
  int stop_after = -1;

  static int Callback(void* userdata, int type, const char* data, uint32_t length) {
    auto* self = static_cast<LibJsonEventRecorder*>(userdata);
    self->events.push_back(EventText(type, std::string(data, length)));
    return self->stop_after >= 0 && static_cast<int>(self->events.size()) >= self->stop_after;
  }
};

// Parses `text` in pieces of `piece` bytes (0: all at once). Returns the
// first error code (0 for none); `done` tells json_parser_is_done afterwards.
inline int ParseWithLibJson(std::string const& text, LibJsonEventRecorder& recorder,
                            size_t piece = 0, bool* done = nullptr, json_config* config = nullptr) {
  json_parser parser;
  int rc = json_parser_init(&parser, config, &LibJsonEventRecorder::Callback, &recorder);
  if (rc != 0) return rc;
  if (piece == 0) piece = text.size() ? text.size() : 1;
  for (size_t offset = 0; rc == 0 && offset < text.size(); offset += piece) {
    size_t n = std::min(piece, text.size() - offset);
    rc = json_parser_string(&parser, text.data() + offset, static_cast<uint32_t>(n), nullptr);
  }
  if (text.empty()) rc = json_parser_string(&parser, "", 0, nullptr);
  if (done) *done = json_parser_is_done(&parser) != 0;
  json_parser_free(&parser);
  return rc;
}

#endif  // QUORLIN_TESTS_JSON_LIBJSON_EVENT_RECORDER_H_
