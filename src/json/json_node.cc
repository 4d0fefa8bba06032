#include "json/json_node.h"

#include <boost/make_shared.hpp>
#include <sstream>

namespace JSON {

namespace {

// Keys and strings are quoted with JSON escapes for the quote, the backslash
// and control characters: the text ends up in log lines, and a raw line
// break taken from a request must not be able to forge a log line.
void AppendQuoted(std::string& out, std::string const& text) {
  static char const kHex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string FloatText(float value) {
  std::ostringstream stream;
  stream << value;
  return stream.str();
}

// The members of one object node, as "{...}".
void AppendObjectBody(std::string& out, JSONNode const& object) {
  out += '{';
  bool first = true;
  for (auto const& element : object.objectElements) {
    if (!element.second) continue;
    std::string text = element.second->JSONRepresentation();
    if (text.empty()) continue;
    if (!first) out += ',';
    first = false;
    out += text;
  }
  out += '}';
}

}  // namespace

JSONNode::JSONNode() : type(NODE_NONE), intValue(0), floatValue(0.0f), boolValue(false) {}

JSONNode::JSONNode(std::string const& node_key)
    : key(node_key), type(NODE_NONE), intValue(0), floatValue(0.0f), boolValue(false) {}

JSONNode::JSONNode(std::string const& node_key, JSONNodeType node_type)
    : key(node_key), type(node_type), intValue(0), floatValue(0.0f), boolValue(false) {}

JSONNode::JSONNode(std::string const& node_key, std::string const& value) : JSONNode(node_key) {
  setValue(value);
}

JSONNode::JSONNode(std::string const& node_key, char const* value)
    : JSONNode(node_key, std::string(value ? value : "")) {}

JSONNode::JSONNode(std::string const& node_key, long long value) : JSONNode(node_key) {
  setValue(value);
}

JSONNode::JSONNode(std::string const& node_key, float value) : JSONNode(node_key) {
  setValue(value);
}

JSONNode::JSONNode(std::string const& node_key, bool value) : JSONNode(node_key) {
  setValue(value);
}

JSONNode::JSONNode(std::string const& node_key, std::vector<std::string> const& values)
    : JSONNode(node_key) {
  setValue(values);
}

void JSONNode::setValue(long long value) {
  type = NODE_INTEGER;
  intValue = value;
}

void JSONNode::setValue(float value) {
  type = NODE_FLOAT;
  floatValue = value;
}

void JSONNode::setValue(bool value) {
  type = NODE_BOOL;
  boolValue = value;
}

void JSONNode::setValue(std::string const& value) {
  type = NODE_STRING;
  stringValue = value;
}

void JSONNode::setValue(std::vector<std::string> const& values) {
  type = NODE_ARRAY;
  arrayValues = values;
}

void JSONNode::setType(JSONNodeType new_type) { type = new_type; }

bool JSONNode::addArrayElement(std::string const& value) {
  if (type != NODE_ARRAY) return false;
  arrayValues.push_back(value);
  return true;
}

bool JSONNode::addObject(boost::shared_ptr<JSONNode> object) {
  if (type != NODE_OBJECT_ARRAY) return false;
  if (!objects) objects = boost::make_shared<std::vector<boost::shared_ptr<JSONNode>>>();
  objects->push_back(object);
  return true;
}

bool JSONNode::addObjectElement(boost::shared_ptr<JSONNode> element) {
  if (type != NODE_OBJECT || !element) return false;
  objectElements[element->key] = element;
  return true;
}

boost::shared_ptr<JSONNode> JSONNode::ObjectNode(std::string const& element_key) const {
  if (type != NODE_OBJECT) return boost::shared_ptr<JSONNode>();
  auto found = objectElements.find(element_key);
  if (found == objectElements.end()) return boost::shared_ptr<JSONNode>();
  return found->second;
}

std::string JSONNode::JSONRepresentation() const {
  if (type == NODE_NONE) return std::string();
  std::string out;
  AppendQuoted(out, key);
  out += ':';
  switch (type) {
    case NODE_STRING:
      AppendQuoted(out, stringValue);
      break;
    case NODE_INTEGER:
      out += std::to_string(intValue);
      break;
    case NODE_FLOAT:
      out += FloatText(floatValue);
      break;
    case NODE_ARRAY: {
      out += '[';
      for (size_t i = 0; i < arrayValues.size(); ++i) {
        if (i > 0) out += ',';
        AppendQuoted(out, arrayValues[i]);
      }
      out += ']';
      break;
    }
    case NODE_BOOL:
      out += boolValue ? "true" : "false";
      break;
    case NODE_OBJECT:
      AppendObjectBody(out, *this);
      break;
    case NODE_OBJECT_ARRAY: {
      out += '[';
      bool first = true;
      if (objects) {
        for (auto const& object : *objects) {
          if (!object) continue;
          if (!first) out += ',';
          first = false;
          AppendObjectBody(out, *object);
        }
      }
      out += ']';
      break;
    }
    case NODE_NONE:
      break;
  }
  return out;
}

}  // namespace JSON
