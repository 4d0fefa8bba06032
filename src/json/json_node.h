// One node of the shallow JSON document tree that request bodies are parsed
// into (see json_parser.h for how a document maps onto nodes).
//
// Contract:
//  - A plain value class with public fields. Every constructor leaves the
//    strings and containers empty and the scalar slots at 0 / 0.0 / false
//    before storing its own value, so a reader of a slot the node's type does
//    not use always sees an empty, zero or false value.
//  - Nodes are held by boost::shared_ptr and shared between a parser's tables
//    and its callers; a node lives as long as some pointer holds it.
//  - No locking: a node belongs to the thread that parsed it.
#ifndef QUORLIN_JSON_JSON_NODE_H_
#define QUORLIN_JSON_JSON_NODE_H_

#include <boost/shared_ptr.hpp>
#include <map>
#include <string>
#include <vector>

namespace JSON {

enum JSONNodeType {
  NODE_NONE = 0,          // no value: fresh node, null value, empty array
  NODE_STRING = 1,        // stringValue
  NODE_INTEGER = 2,       // intValue
  NODE_FLOAT = 3,         // floatValue
  NODE_ARRAY = 4,         // arrayValues: scalars of an array, each as text
  NODE_OBJECT_ARRAY = 5,  // objects: an array whose elements are objects
  NODE_BOOL = 6,          // boolValue
  NODE_OBJECT = 7,        // objectElements: one object inside an array
};

class JSONNode {
 public:
  JSONNode();
  explicit JSONNode(std::string const& node_key);
  JSONNode(std::string const& node_key, JSONNodeType node_type);
  JSONNode(std::string const& node_key, std::string const& value);
  // Without this overload a string literal would pick the bool constructor.
  JSONNode(std::string const& node_key, char const* value);
  JSONNode(std::string const& node_key, long long value);
  JSONNode(std::string const& node_key, float value);
  JSONNode(std::string const& node_key, bool value);
  JSONNode(std::string const& node_key, std::vector<std::string> const& values);

  // Each sets `type` to the matching type and stores the value in its slot;
  // the other slots keep what they hold.
  void setValue(long long value);
  void setValue(float value);
  void setValue(bool value);
  void setValue(std::string const& value);
  void setValue(std::vector<std::string> const& values);

  void setType(JSONNodeType new_type);

  // Appends to arrayValues; false, and nothing changes, unless NODE_ARRAY.
  bool addArrayElement(std::string const& value);
  // Appends to objects (created on first use); false unless NODE_OBJECT_ARRAY.
  bool addObject(boost::shared_ptr<JSONNode> object);
  // Stores the element under its own key, replacing an earlier one; false
  // unless NODE_OBJECT (or when the pointer is empty).
  bool addObjectElement(boost::shared_ptr<JSONNode> element);
  // The element of a NODE_OBJECT under `key`; empty when absent or when this
  // node is not NODE_OBJECT.
  boost::shared_ptr<JSONNode> ObjectNode(std::string const& key) const;

  // Debug text of this node: empty for NODE_NONE, otherwise "\"key\":" and
  // the value by type. Keys and strings are written as stored, unescaped.
  std::string JSONRepresentation() const;

  std::string key;
  JSONNodeType type;
  std::string stringValue;
  std::vector<std::string> arrayValues;
  boost::shared_ptr<std::vector<boost::shared_ptr<JSONNode>>> objects;
  std::map<std::string, boost::shared_ptr<JSONNode>> objectElements;
  long long intValue;
  float floatValue;
  bool boolValue;
};

}  // namespace JSON

#endif  // QUORLIN_JSON_JSON_NODE_H_
