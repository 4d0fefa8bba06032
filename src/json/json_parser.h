// Parses one JSON text into a shallow table of JSON::JSONNode objects by key.
//
// How a document maps onto the table:
//  - Members of the top-level object with string, number or boolean values
//    become top-level nodes; a later member of the same key replaces an
//    earlier one.
//  - A member whose value is an array becomes a node when the array ends:
//    NODE_ARRAY with every scalar element as text, or NODE_OBJECT_ARRAY with
//    one NODE_OBJECT per element object. An empty array gives NODE_NONE. An
//    array inside an array adds its scalars to the outer one, and its end
//    also ends the outer array.
//  - The members of an object value (outside an array) become top-level
//    nodes under their own keys; the object's own key is not kept.
//  - null values are dropped (one DEBUG line "NULL value" each).
//  - Text cut short after a complete token is not an error: the nodes
//    finished before the cut remain.
//  - A document with more than kMaxValues keys and values (arrays and objects
//    count as values), nested deeper than kMaxDepth or with a key, string or
//    number longer than kMaxTokenBytes (once unescaped) stops the parse at the
//    first one over, with errorState 3 and an empty table: nothing past the
//    cap is ever built.
//
// Contract:
//  - One parser serves one document: construct, parse() once, read, destroy.
//  - Not thread-safe and needs no lock: a parser and its nodes belong to the
//    thread that made them. libjson calls back synchronously inside parse().
//  - node() returns empty pointers for absent keys; callers test them.
#ifndef QUORLIN_JSON_JSON_PARSER_H_
#define QUORLIN_JSON_JSON_PARSER_H_

#include <boost/shared_ptr.hpp>
#include <map>
#include <string>

#include "json/json_node.h"

namespace JSON {

class JSONParser {
 public:
  JSONParser();
  virtual ~JSONParser();

  // A request is one object of seven keys (15 values and keys, depth 1).
  // The caps leave room for far larger documents while holding what one
  // text can make the parser build to a few hundred small nodes; without
  // them a text made only of short keys got a node and a table entry per
  // key, many times the text's own size.
  static constexpr unsigned int kMaxValues = 256;
  static constexpr unsigned int kMaxDepth = 8;
  // Four times the longest path (PATH_MAX); a longer token would only be
  // copied from the text into the parser's buffer and again into its node.
  static constexpr unsigned int kMaxTokenBytes = 4 * 4096;

  // Parses exactly `length` bytes (no NUL needed) and returns the new
  // errorState: 0 success, 1 libjson could not be set up, 2 invalid text,
  // 3 over kMaxValues, kMaxDepth or kMaxTokenBytes.
  int parse(char const* text, unsigned int length);

  // A pointer to the top-level node under `key`, or an empty pointer.
  boost::shared_ptr<JSONNode> node(std::string const& key) const;

  // "{" + every top-level node's JSONRepresentation() in byte-wise key order,
  // separated by "," + "}". Debug text only; not always valid JSON.
  std::string buildJSONRepresentation() const;

  // Handed to libjson with the parser as user data. Returns 0 but for the
  // event that goes over a cap, which stops the parse.
  static int parser_callback(void* userdata, int type, char const* data, unsigned int length);

  void handleArrayStart();
  void handleObjectStart();
  void handleArrayEnd();
  void handleObjectEnd();
  void handleKey(std::string const& key);
  void handleValue(long long value);
  void handleValue(float value);
  void handleValue(std::string const& value);
  void handleValue(bool value);
  // Stores `node` under its key; false for an empty pointer or empty key.
  bool addNode(boost::shared_ptr<JSONNode> node);

  std::map<std::string, boost::shared_ptr<JSONNode>> nodes;
  int errorState;
  boost::shared_ptr<JSONNode> currentNode;
  boost::shared_ptr<JSONNode> currentObject;
  boost::shared_ptr<JSONNode> currentArray;

 private:
  // The steps shared by the four handleValue overloads: `store` gives
  // currentNode its value, `text()` makes the value's text for an array
  // element (only called when one is needed).
  template <typename Store, typename Text>
  void handleScalar(Store store, Text text);
  // Counts one event; false (errorState 3) once it goes over a cap.
  bool withinCaps(int type);

  unsigned int values_ = 0;
  unsigned int depth_ = 0;
};

}  // namespace JSON

#endif  // QUORLIN_JSON_JSON_PARSER_H_
