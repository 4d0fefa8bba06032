#include "json/json_parser.h"

#include <boost/make_shared.hpp>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "libjson/json.h"
#include "log/ql_log.h"

namespace JSON {

namespace {

// libjson hands over number tokens already checked against the JSON number
// grammar. Values outside the range of long long are clamped to its nearest
// limit (as strtoll does) instead of being left undefined.
long long IntegerFromToken(char const* data, unsigned int length) {
  std::string text(data, length);
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  return value;  // strtoll already clamps to LLONG_MIN / LLONG_MAX on overflow
}

// Floats beyond the range of float are clamped to -FLT_MAX / FLT_MAX, so a
// node never holds an infinity; values too small to represent become the
// nearest float (possibly 0).
float FloatFromToken(char const* data, unsigned int length) {
  std::string text(data, length);
  char* end = nullptr;
  float value = std::strtof(text.c_str(), &end);
  if (end == text.c_str()) return 0.0f;
  if (std::isinf(value)) return value > 0 ? FLT_MAX : -FLT_MAX;
  if (std::isnan(value)) return 0.0f;
  return value;
}

std::string FloatText(float value) {
  std::ostringstream stream;
  stream << value;
  return stream.str();
}

}  // namespace

JSONParser::JSONParser() : errorState(0) {}

JSONParser::~JSONParser() {}

int JSONParser::parse(char const* text, unsigned int length) {
  nodes.clear();
  currentNode.reset();
  currentObject.reset();
  currentArray.reset();
  errorState = 0;
  values_ = 0;
  depth_ = 0;

  json_parser parser;
  json_config config = {0, kMaxTokenBytes};
  if (json_parser_init(&parser, &config, &JSONParser::parser_callback, this) != 0) {
    errorState = 1;
    return errorState;
  }
  int const error = json_parser_string(&parser, text, length, nullptr);
  if (error == JSON_ERROR_DATA_LIMIT) errorState = 3;
  if (error != 0 && errorState != 3) errorState = 2;
  json_parser_free(&parser);
  if (errorState == 3) {
    // What was built before the cap is no request; let it go at once.
    nodes.clear();
    currentNode.reset();
    currentObject.reset();
    currentArray.reset();
  }
  return errorState;
}

boost::shared_ptr<JSONNode> JSONParser::node(std::string const& key) const {
  auto found = nodes.find(key);
  if (found == nodes.end()) return boost::shared_ptr<JSONNode>();
  return found->second;
}

std::string JSONParser::buildJSONRepresentation() const {
  std::string out = "{";
  bool first = true;
  for (auto const& entry : nodes) {
    if (!first) out += ',';
    first = false;
    if (entry.second) out += entry.second->JSONRepresentation();
  }
  out += '}';
  return out;
}

int JSONParser::parser_callback(void* userdata, int type, char const* data, unsigned int length) {
  if (userdata == nullptr || type < JSON_ARRAY_BEGIN || type > JSON_NULL) return 0;
  JSONParser* self = static_cast<JSONParser*>(userdata);
  if (!self->withinCaps(type)) return 1;
  if (data == nullptr) {
    data = "";
    length = 0;
  }
  switch (type) {
    case JSON_ARRAY_BEGIN:
      self->handleArrayStart();
      break;
    case JSON_OBJECT_BEGIN:
      self->handleObjectStart();
      break;
    case JSON_ARRAY_END:
      self->handleArrayEnd();
      break;
    case JSON_OBJECT_END:
      self->handleObjectEnd();
      break;
    case JSON_INT:
      self->handleValue(IntegerFromToken(data, length));
      break;
    case JSON_FLOAT:
      self->handleValue(FloatFromToken(data, length));
      break;
    case JSON_STRING:
      self->handleValue(std::string(data, length));
      break;
    case JSON_KEY:
      self->handleKey(std::string(data, length));
      break;
    case JSON_TRUE:
      self->handleValue(true);
      break;
    case JSON_FALSE:
      self->handleValue(false);
      break;
    case JSON_NULL:
      QL_DEBUG("NULL value");
      break;
  }
  return 0;
}

bool JSONParser::withinCaps(int type) {
  if (type == JSON_ARRAY_END || type == JSON_OBJECT_END) {
    if (depth_ > 0) --depth_;
    return true;
  }
  if (type == JSON_ARRAY_BEGIN || type == JSON_OBJECT_BEGIN) ++depth_;
  if (++values_ <= kMaxValues && depth_ <= kMaxDepth) return true;
  errorState = 3;
  return false;
}

void JSONParser::handleArrayStart() {
  if (!currentNode) return;
  currentArray = currentNode;
  currentArray->setType(NODE_NONE);
  currentNode.reset();
}

void JSONParser::handleObjectStart() {
  if (!currentArray) return;
  currentObject = boost::make_shared<JSONNode>(std::string(), NODE_OBJECT);
  currentArray->setType(NODE_OBJECT_ARRAY);
}

void JSONParser::handleArrayEnd() {
  addNode(currentArray);
  currentArray.reset();
}

void JSONParser::handleObjectEnd() {
  if (!currentArray || !currentObject) return;
  currentArray->addObject(currentObject);
  currentObject.reset();
}

void JSONParser::handleKey(std::string const& key) {
  if (currentNode && !currentNode->key.empty() && currentNode->type != NODE_NONE) {
    addNode(currentNode);
  }
  currentNode = boost::make_shared<JSONNode>(key);
}

template <typename Store, typename Text>
void JSONParser::handleScalar(Store store, Text text) {
  if (currentNode) store(*currentNode);
  if (currentArray) {
    if (currentArray->type == NODE_NONE) currentArray->setType(NODE_ARRAY);
    if (currentArray->type == NODE_ARRAY) {
      currentArray->addArrayElement(text());
    } else if (currentNode && currentObject) {
      currentObject->addObjectElement(currentNode);
    }
  } else if (currentNode) {
    addNode(currentNode);
  }
  currentNode.reset();
}

void JSONParser::handleValue(long long value) {
  handleScalar([value](JSONNode& n) { n.setValue(value); },
               [value] { return std::to_string(value); });
}

void JSONParser::handleValue(float value) {
  handleScalar([value](JSONNode& n) { n.setValue(value); }, [value] { return FloatText(value); });
}

void JSONParser::handleValue(std::string const& value) {
  handleScalar([&value](JSONNode& n) { n.setValue(value); }, [&value] { return value; });
}

void JSONParser::handleValue(bool value) {
  handleScalar([value](JSONNode& n) { n.setValue(value); },
               [value] { return std::string(value ? "1" : "0"); });
}

bool JSONParser::addNode(boost::shared_ptr<JSONNode> node) {
  if (!node || node->key.empty()) return false;
  nodes[node->key] = node;
  return true;
}

}  // namespace JSON
