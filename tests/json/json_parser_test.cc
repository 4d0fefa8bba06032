// JSON::JSONParser and JSON::JSONNode: how documents map onto the node table,
// the debug representation, error states and hostile input.
#include "json/json_parser.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cfloat>
#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "json_node_matcher.h"
#include "libjson/json.h"
#include "log/ql_log.h"
#include "support/ql_log_capture.h"

namespace {

using JSON::JSONNode;
using JSON::JSONParser;

class JSONParserTest : public ::testing::Test {
 protected:
  int Parse(std::string const& text) {
    return parser_.parse(text.data(), static_cast<unsigned int>(text.size()));
  }

  QLLogCapture log_;
  JSONParser parser_;
};

// One member each: the node's type and every value slot, so a value in the
// wrong slot or a slot left over from another kind is caught.
TEST_F(JSONParserTest, ScalarMemberFillsOnlyTheSlotOfItsKind) {
  struct Case {
    char const* name;
    std::string document;
    JSONNode node;
  } const cases[] = {
      {"string", "{\"s\":\"x\\ty\"}", JSONNode("s", "x\ty")},
      {"integer", "{\"i\":-42}", JSONNode("i", -42LL)},
      {"float", "{\"f\":0.5}", JSONNode("f", 0.5f)},
      {"float token", "{\"_width\":100.0}", JSONNode("_width", 100.0f)},
      {"true", "{\"t\":true}", JSONNode("t", true)},
      {"false", "{\"n\":false}", JSONNode("n", false)},
      {"later member replaces", "{\"a\":1,\"a\":\"two\"}", JSONNode("a", "two")},
      {"nested member flattened", "{\"a\":{\"b\":1}}", JSONNode("b", 1LL)},
      {"escapes and surrogate pair", "{\"p\\u0061th\":\"\\\"q\\\\ \\u00e9 \\ud83d\\ude00\"}",
       JSONNode("path", "\"q\\ \xC3\xA9 \xF0\x9F\x98\x80")},
      {"long long max", "{\"k\":9223372036854775807}", JSONNode("k", LLONG_MAX)},
      {"long long min", "{\"k\":-9223372036854775808}", JSONNode("k", LLONG_MIN)},
      {"over max clamped", "{\"k\":9223372036854775808}", JSONNode("k", LLONG_MAX)},
      {"under min clamped", "{\"k\":-9223372036854775809}", JSONNode("k", LLONG_MIN)},
      {"huge clamped", "{\"k\":123456789012345678901234567890}", JSONNode("k", LLONG_MAX)},
      {"float over range", "{\"k\":1e39}", JSONNode("k", FLT_MAX)},
      {"float under range", "{\"k\":-1e400}", JSONNode("k", -FLT_MAX)},
      {"float too small", "{\"k\":1e-50}", JSONNode("k", 0.0f)},
      {"float near max", "{\"k\":3.4e38}", JSONNode("k", 3.4e38f)},
  };
  for (auto const& c : cases) {
    ASSERT_EQ(0, Parse(c.document)) << c.name;
    EXPECT_EQ(1u, parser_.nodes.size()) << c.name;
    auto n = parser_.node(c.node.key);
    ASSERT_TRUE(n) << c.name;
    EXPECT_TRUE(SameNode(c.node, *n)) << c.name;
  }
}

// Document, the parse result and the debug representation of the table it
// leaves: how arrays, nested objects, cut-short and invalid text map onto nodes.
TEST_F(JSONParserTest, DocumentsMapOntoTheNodeTable) {
  std::ostringstream float_text;
  float_text << 2.5f;
  struct Case {
    std::string document;
    int result;
    std::string table;
  } const cases[] = {
      {"{\"a\":null}", 0, "{}"},
      {"{\"k\":[1,\"x\",true,false,2.5]}", 0,
       "{\"k\":[\"1\",\"x\",\"1\",\"0\",\"" + float_text.str() + "\"]}"},
      {"{\"k\":[{\"a\":1},{\"b\":\"c\"}]}", 0, "{\"k\":[{\"a\":1},{\"b\":\"c\"}]}"},
      {"{\"k\":[{\"x\":{\"y\":1},\"z\":2}]}", 0, "{\"k\":[{\"y\":1}]}"},
      {"{\"k\":[1,[2,3],4]}", 0, "{\"k\":[\"1\",\"2\",\"3\"]}"},  // inner end ends the outer
      {"[{\"a\":1},5]", 0, "{\"a\":1}"},
      {"{\"a\":\"x\"", 0, "{\"a\":\"x\"}"},
      {"{\"a\":\"x\",\"b\":12", 0, "{\"a\":\"x\"}"},  // a number at the cut may go on
      {"{\"a\":1,\"b\":[],\"c\":true}", 0, "{\"a\":1,,\"c\":true}"},
      {"{\"ok\":1,\"bad\":tru}", 2, "{\"ok\":1}"},
      {"{\"a\":1}GARBAGE", 2, "{\"a\":1}"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(c.result, Parse(c.document)) << c.document;
    EXPECT_EQ(c.result, parser_.errorState) << c.document;
    EXPECT_EQ(c.table, parser_.buildJSONRepresentation()) << c.document;
  }
  auto k = (Parse("{\"k\":[{\"a\":1}]}"), parser_.node("k"));
  ASSERT_TRUE(k && k->objects);
  EXPECT_EQ(JSON::NODE_OBJECT_ARRAY, k->type);
  EXPECT_FALSE(parser_.node("a"));
  EXPECT_EQ(0, parser_.parse("{\"a\":1}GARBAGE", 7)) << "only the given length is parsed";
  EXPECT_EQ(0, parser_.parse(nullptr, 0));
  EXPECT_TRUE(parser_.nodes.empty());
  EXPECT_EQ(2, parser_.parse(nullptr, 5));
}

TEST_F(JSONParserTest, CallbackAndAddNodeRefuseWhatCannotBeStored) {
  EXPECT_EQ(0, JSONParser::parser_callback(nullptr, JSON_STRING, "x", 1));
  EXPECT_EQ(0, JSONParser::parser_callback(&parser_, 12, "x", 1));
  EXPECT_EQ(0, JSONParser::parser_callback(&parser_, JSON_KEY, "k", 1));
  EXPECT_EQ(0, JSONParser::parser_callback(&parser_, JSON_STRING, nullptr, 5));
  ASSERT_TRUE(parser_.node("k"));
  EXPECT_EQ("", parser_.node("k")->stringValue);
  EXPECT_FALSE(parser_.addNode(boost::shared_ptr<JSONNode>()));
  EXPECT_FALSE(parser_.addNode(boost::make_shared<JSONNode>("", 1LL)));
}

// Hostile documents: each ends in a clean error state (the sanitizer builds
// catch memory faults on the way).
TEST_F(JSONParserTest, HostileDocumentGivesErrorStateTwo) {
  std::string const documents[] = {"{\"a\":\"\\udc00\"}", std::string("{\"a\":\"\0\"}", 8),
                                   "\xEF\xBB\xBF{}", std::string(65, '[') + std::string(65, ']'),
                                   "{\"k\":" + std::string(64, '[') + std::string(64, ']') + "}"};
  for (std::string const& text : documents) EXPECT_EQ(2, Parse(text)) << text;
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "{\"a\":";
  EXPECT_EQ(2, Parse(nested));
}

TEST(JSONNodeTest, RepresentationByType) {
  std::ostringstream float_text;
  float_text << 1234567.0f;  // default stream format: 1.23457e+06
  auto object = boost::make_shared<JSONNode>("", JSON::NODE_OBJECT);
  object->addObjectElement(boost::make_shared<JSONNode>("b", "c"));
  object->addObjectElement(boost::make_shared<JSONNode>("a", 1LL));
  JSONNode objects("k", JSON::NODE_OBJECT_ARRAY);
  objects.addObject(object);
  objects.addObject(boost::make_shared<JSONNode>("", JSON::NODE_OBJECT));
  struct Case {
    JSONNode node;
    std::string text;
  } const cases[] = {
      {JSONNode("k"), ""},
      {JSONNode("k", "lit"), "\"k\":\"lit\""},  // a literal must not turn into a bool
      {JSONNode("k", -9223372036854775807LL), "\"k\":-9223372036854775807"},
      {JSONNode("k", 1234567.0f), "\"k\":" + float_text.str()},
      {JSONNode("k", std::vector<std::string>{"1", "x"}), "\"k\":[\"1\",\"x\"]"},
      {JSONNode("k", false), "\"k\":false"},
      {objects, "\"k\":[{\"a\":1,\"b\":\"c\"},{}]"},
      {JSONNode("k", JSON::NODE_OBJECT_ARRAY), "\"k\":[]"},
      // A line break taken from a request must not start a new log line.
      {JSONNode("a\"b", std::string("line\nERROR: forged\\\x01")),
       "\"a\\\"b\":\"line\\nERROR: forged\\\\\\u0001\""},
  };
  for (auto const& c : cases) EXPECT_EQ(c.text, c.node.JSONRepresentation());
}

}  // namespace
