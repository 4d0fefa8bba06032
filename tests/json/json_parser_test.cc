// JSON::JSONParser: how documents map onto the node table, the debug
// representation, error states and hostile input.
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

TEST_F(JSONParserTest, NullIsDroppedWithADebugLineAtDebugLevelOnly) {
  ASSERT_EQ(0, Parse("{\"a\":null}"));
  EXPECT_EQ(1, log_.Count("] NULL value"));
  ql_log_level = 2;
  ASSERT_EQ(0, Parse("{\"a\":null}"));
  EXPECT_EQ(1, log_.Count("NULL value"));
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

// Hostile documents: each must end in a clean error state without crashing
// (the sanitizer builds catch memory faults on the way).
class JSONParserHostileTest : public ::testing::TestWithParam<std::string> {};

TEST_P(JSONParserHostileTest, InvalidDocumentGivesErrorStateTwo) {
  JSONParser parser;
  std::string const& text = GetParam();
  EXPECT_EQ(2, parser.parse(text.data(), static_cast<unsigned int>(text.size())));
}

std::string Repeat(std::string const& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

INSTANTIATE_TEST_SUITE_P(Documents, JSONParserHostileTest,
                         ::testing::Values("{\"a\":}", "{\"a\":\"\\udc00\"}",
                                           std::string("{\"a\":\"\0\"}", 8), "\xEF\xBB\xBF{}",
                                           Repeat("[", 65) + Repeat("]", 65),
                                           "{\"k\":" + Repeat("[", 64) + Repeat("]", 64) + "}",
                                           Repeat("{\"a\":", 100000)));

}  // namespace
