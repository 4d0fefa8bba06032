// Fuzz target for the request parser: JSON::JSONParser over arbitrary bytes,
// with three checks beyond "no crash, no sanitizer report":
//  1. the parser's state and node table are consistent;
//  2. libjson gives the same events and result however the bytes are split
//     into pieces (it keeps its whole state between calls);
//  3. a document libjson accepts whole, printed token by token through the
//     libjson printer, parses back to the same events.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "json/json_parser.h"
#include "libjson/json.h"

namespace {

struct Event {
  int type;
  std::string data;
  bool operator==(Event const& other) const { return type == other.type && data == other.data; }
};

int Record(void* userdata, int type, const char* data, uint32_t length) {
  static_cast<std::vector<Event>*>(userdata)->push_back({type, std::string(data, length)});
  return 0;
}

int Collect(void* userdata, const char* s, uint32_t length) {
  static_cast<std::string*>(userdata)->append(s, length);
  return 0;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// Feeds `size` bytes in pieces of `piece`; returns the error code.
int ParseEvents(char const* data, size_t size, size_t piece, std::vector<Event>& events,
                bool& done) {
  json_parser parser;
  Check(json_parser_init(&parser, nullptr, &Record, &events) == 0);
  int rc = 0;
  for (size_t offset = 0; rc == 0 && offset < size; offset += piece) {
    size_t n = size - offset < piece ? size - offset : piece;
    rc = json_parser_string(&parser, data + offset, static_cast<uint32_t>(n), nullptr);
  }
  done = json_parser_is_done(&parser) != 0;
  json_parser_free(&parser);
  return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  char const* text = reinterpret_cast<char const*>(bytes);

  JSON::JSONParser parser;
  int state = parser.parse(text, static_cast<unsigned int>(size));
  Check(state == 0 || state == 2);
  Check(parser.errorState == state);
  for (auto const& entry : parser.nodes) {
    Check(entry.second && !entry.first.empty() && entry.second->key == entry.first);
    Check(parser.node(entry.first) == entry.second);
    Check(entry.second->type >= JSON::NODE_NONE && entry.second->type <= JSON::NODE_OBJECT);
    if (entry.second->type == JSON::NODE_OBJECT_ARRAY && entry.second->objects) {
      for (auto const& object : *entry.second->objects)
        Check(object && object->type == JSON::NODE_OBJECT);
    }
  }
  std::string representation = parser.buildJSONRepresentation();
  Check(representation.size() >= 2 && representation.front() == '{' &&
        representation.back() == '}');

  std::vector<Event> whole;
  bool whole_done = false;
  int whole_rc = ParseEvents(text, size, size ? size : 1, whole, whole_done);
  Check((whole_rc != 0) == (state == 2));

  std::vector<Event> pieces;
  bool pieces_done = false;
  size_t piece = 1 + (size ? bytes[0] % 7 : 0);
  int pieces_rc = ParseEvents(text, size, piece, pieces, pieces_done);
  Check(pieces_rc == whole_rc);
  Check(pieces == whole);
  Check(pieces_done == whole_done);

  if (whole_rc == 0 && whole_done) {
    std::string printed;
    json_printer printer;
    Check(json_print_init(&printer, &Collect, &printed) == 0);
    for (Event const& e : whole) {
      Check(json_print_pretty(&printer, e.type, e.data.data(),
                              static_cast<uint32_t>(e.data.size())) == 0);
    }
    json_print_free(&printer);
    // A number is only known to be complete once a byte follows it, and a
    // document that is a bare number ends right after it.
    printed += '\n';
    std::vector<Event> again;
    bool again_done = false;
    Check(ParseEvents(printed.data(), printed.size(), printed.size(), again, again_done) == 0);
    Check(again_done);
    Check(again == whole);
  }
  return 0;
}
