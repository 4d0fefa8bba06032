// Fuzz target for the request parser: JSON::JSONParser over arbitrary bytes,
// checked beyond "no crash, no sanitizer report": the parser's state and node
// table are consistent; it stops at its caps exactly when libjson's events
// go over them; libjson gives the same events and result however the
// bytes are split into pieces; and a document libjson accepts whole, printed
// token by token through the libjson printer, parses back to the same events.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "json/json_parser.h"
#include "libjson/json.h"

namespace {

typedef std::vector<std::pair<int, std::string>> Events;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Feeds `size` bytes in pieces of `piece`; the error code, events and whether
// the document is done.
int ParseEvents(char const* data, size_t size, size_t piece, Events& events, bool& done) {
  json_parser parser;
  auto record = [](void* userdata, int type, const char* text, uint32_t length) {
    static_cast<Events*>(userdata)->emplace_back(type, std::string(text, length));
    return 0;
  };
  Check(json_parser_init(&parser, nullptr, record, &events) == 0);
  int rc = 0;
  for (size_t offset = 0; rc == 0 && offset < size; offset += piece) {
    size_t const n = size - offset < piece ? size - offset : piece;
    rc = json_parser_string(&parser, data + offset, static_cast<uint32_t>(n), nullptr);
  }
  done = json_parser_is_done(&parser) != 0;
  json_parser_free(&parser);
  return rc;
}

// Whether the events go over the parser's caps on values, depth and tokens.
bool OverCaps(Events const& events) {
  unsigned int values = 0, depth = 0;
  for (auto const& event : events) {
    if (event.second.size() > JSON::JSONParser::kMaxTokenBytes) return true;
    if (event.first == JSON_ARRAY_END || event.first == JSON_OBJECT_END) {
      depth -= depth > 0;
      continue;
    }
    depth += event.first == JSON_ARRAY_BEGIN || event.first == JSON_OBJECT_BEGIN;
    if (++values > JSON::JSONParser::kMaxValues || depth > JSON::JSONParser::kMaxDepth) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  char const* text = reinterpret_cast<char const*>(bytes);
  JSON::JSONParser parser;
  int const state = parser.parse(text, static_cast<unsigned int>(size));
  Check(state >= 0 && state <= 3 && state != 1 && parser.errorState == state);
  Check(state != 3 || parser.nodes.empty());
  for (auto const& entry : parser.nodes) {
    Check(entry.second && !entry.first.empty() && entry.second->key == entry.first);
    Check(parser.node(entry.first) == entry.second);
    Check(entry.second->type >= JSON::NODE_NONE && entry.second->type <= JSON::NODE_OBJECT);
    if (entry.second->type == JSON::NODE_OBJECT_ARRAY && entry.second->objects) {
      for (auto const& object : *entry.second->objects)
        Check(object && object->type == JSON::NODE_OBJECT);
    }
  }
  std::string const representation = parser.buildJSONRepresentation();
  Check(representation.size() >= 2 && representation.front() == '{' &&
        representation.back() == '}');

  Events whole, pieces;
  bool whole_done = false, pieces_done = false;
  int const whole_rc = ParseEvents(text, size, size ? size : 1, whole, whole_done);
  // A token still open at the end of a long input can pass the cap unseen here.
  Check((state == 3) == OverCaps(whole) || (state == 3 && size > JSON::JSONParser::kMaxTokenBytes));
  Check(state == 3 || (whole_rc != 0) == (state == 2));
  Check(ParseEvents(text, size, 1 + (size ? bytes[0] % 7 : 0), pieces, pieces_done) == whole_rc);
  Check(pieces == whole && pieces_done == whole_done);
  if (whole_rc != 0 || !whole_done) return 0;

  std::string printed;
  json_printer printer;
  auto collect = [](void* userdata, const char* s, uint32_t length) {
    static_cast<std::string*>(userdata)->append(s, length);
    return 0;
  };
  Check(json_print_init(&printer, collect, &printed) == 0);
  for (auto const& e : whole) {
    Check(json_print_pretty(&printer, e.first, e.second.data(),
                            static_cast<uint32_t>(e.second.size())) == 0);
  }
  json_print_free(&printer);
  // A number is only known to be complete once a byte follows it, and a
  // document that is a bare number ends right after it.
  printed += '\n';
  Events again;
  bool again_done = false;
  Check(ParseEvents(printed.data(), printed.size(), printed.size(), again, again_done) == 0);
  Check(again_done && again == whole);
  return 0;
}
