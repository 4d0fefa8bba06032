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

  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (auto const& entry : parser_.nodes) keys.push_back(entry.first);
    return keys;
  }

  QLLogCapture log_;
  JSONParser parser_;
};

TEST_F(JSONParserTest, TopLevelMembersBecomeNodesInKeyOrder) {
  ASSERT_EQ(0, Parse("{\"_width\":100,\"_path\":\"a\"}"));
  EXPECT_EQ((std::vector<std::string>{"_path", "_width"}), Keys());
  EXPECT_EQ("{\"_path\":\"a\",\"_width\":100}", parser_.buildJSONRepresentation());
  ASSERT_TRUE(parser_.node("_width"));
  EXPECT_EQ(JSON::NODE_INTEGER, parser_.node("_width")->type);
  EXPECT_EQ(100, parser_.node("_width")->intValue);
  EXPECT_EQ("", parser_.node("_width")->stringValue);
}

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

TEST_F(JSONParserTest, NullIsDroppedWithOneDebugLine) {
  ASSERT_EQ(0, Parse("{\"a\":null}"));
  EXPECT_TRUE(parser_.nodes.empty());
  EXPECT_EQ(1, log_.Count("DEBUG:"));
  EXPECT_EQ(1, log_.Count("] NULL value"));
  ql_log_level = 2;
  ASSERT_EQ(0, Parse("{\"a\":null,\"b\":[null]}"));
  EXPECT_EQ(1, log_.Count("NULL value")) << "the debug line respects the log level";
}

TEST_F(JSONParserTest, ArrayOfScalarsIsKeptAsTexts) {
  ASSERT_EQ(0, Parse("{\"k\":[1,\"x\",true,false,2.5]}"));
  auto k = parser_.node("k");
  ASSERT_TRUE(k);
  EXPECT_EQ(JSON::NODE_ARRAY, k->type);
  std::ostringstream float_text;
  float_text << 2.5f;
  EXPECT_EQ((std::vector<std::string>{"1", "x", "1", "0", float_text.str()}), k->arrayValues);
  ASSERT_EQ(0, Parse("{\"k\":[1,\"x\",true]}"));
  EXPECT_EQ("\"k\":[\"1\",\"x\",\"1\"]", parser_.node("k")->JSONRepresentation());
}

TEST_F(JSONParserTest, ArrayOfObjectsKeepsOneObjectNodePerElement) {
  ASSERT_EQ(0, Parse("{\"k\":[{\"a\":1},{\"b\":\"c\"}]}"));
  auto k = parser_.node("k");
  ASSERT_TRUE(k);
  EXPECT_EQ(JSON::NODE_OBJECT_ARRAY, k->type);
  ASSERT_TRUE(k->objects);
  ASSERT_EQ(2u, k->objects->size());
  auto a = (*k->objects)[0]->ObjectNode("a");
  auto b = (*k->objects)[1]->ObjectNode("b");
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  EXPECT_EQ(1, a->intValue);
  EXPECT_EQ("c", b->stringValue);
  EXPECT_FALSE((*k->objects)[0]->ObjectNode("b"));
  EXPECT_FALSE(parser_.node("a"));
}

TEST_F(JSONParserTest, EmptyArrayGivesNoneNodeWithEmptyRepresentation) {
  ASSERT_EQ(0, Parse("{\"k\":[]}"));
  auto k = parser_.node("k");
  ASSERT_TRUE(k);
  EXPECT_EQ(JSON::NODE_NONE, k->type);
  EXPECT_EQ("", k->JSONRepresentation());
}

TEST_F(JSONParserTest, ObjectInsideAnArrayElementObjectKeepsOnlyItsInnerMembers) {
  ASSERT_EQ(0, Parse("{\"k\":[{\"x\":{\"y\":1},\"z\":2}]}"));
  EXPECT_EQ((std::vector<std::string>{"k"}), Keys());
  auto k = parser_.node("k");
  ASSERT_EQ(JSON::NODE_OBJECT_ARRAY, k->type);
  ASSERT_EQ(1u, k->objects->size());
  auto object = (*k->objects)[0];
  ASSERT_TRUE(object->ObjectNode("y"));
  EXPECT_EQ(1, object->ObjectNode("y")->intValue);
  EXPECT_FALSE(object->ObjectNode("x"));
  EXPECT_FALSE(object->ObjectNode("z"));
}

TEST_F(JSONParserTest, InnerArrayEndEndsTheOuterArray) {
  ASSERT_EQ(0, Parse("{\"k\":[1,[2,3],4]}"));
  EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), parser_.node("k")->arrayValues);
}

TEST_F(JSONParserTest, TopLevelArrayKeepsOnlyMembersOfItsObjects) {
  ASSERT_EQ(0, Parse("[{\"a\":1},5]"));
  EXPECT_EQ((std::vector<std::string>{"a"}), Keys());
  EXPECT_EQ(1, parser_.node("a")->intValue);
}

TEST_F(JSONParserTest, TextCutShortKeepsTheFinishedMembers) {
  EXPECT_EQ(0, Parse("{\"a\":\"x\""));
  ASSERT_TRUE(parser_.node("a"));
  EXPECT_EQ("x", parser_.node("a")->stringValue);
  // A number at the cut may still go on, so it is not taken.
  EXPECT_EQ(0, Parse("{\"a\":\"x\",\"b\":12"));
  EXPECT_TRUE(parser_.node("a"));
  EXPECT_FALSE(parser_.node("b"));
}

TEST_F(JSONParserTest, InvalidTextGivesErrorStateTwoAndKeepsEarlierNodes) {
  EXPECT_EQ(2, Parse("{\"a\":}"));
  EXPECT_EQ(2, parser_.errorState);
  EXPECT_EQ(2, Parse("{\"ok\":1,\"bad\":tru}"));
  EXPECT_TRUE(parser_.node("ok"));
}

TEST_F(JSONParserTest, ParseStartsAFreshTableEachTime) {
  ASSERT_EQ(2, Parse("{\"a\":1,]"));
  ASSERT_EQ(0, Parse("{\"b\":2}"));
  EXPECT_EQ(0, parser_.errorState);
  EXPECT_EQ((std::vector<std::string>{"b"}), Keys());
}

TEST_F(JSONParserTest, AbsentKeyGivesAnEmptyPointer) {
  ASSERT_EQ(0, Parse("{\"a\":1}"));
  EXPECT_FALSE(parser_.node("b"));
  EXPECT_FALSE(parser_.node(""));
}

TEST_F(JSONParserTest, OnlyTheGivenLengthIsParsed) {
  std::string text = "{\"a\":1}GARBAGE";
  EXPECT_EQ(0, parser_.parse(text.data(), 7));
  EXPECT_EQ(2, parser_.parse(text.data(), static_cast<unsigned int>(text.size())));
}

TEST_F(JSONParserTest, NullTextIsEmptyForLengthZeroAndAnErrorOtherwise) {
  EXPECT_EQ(0, parser_.parse(nullptr, 0));
  EXPECT_TRUE(parser_.nodes.empty());
  EXPECT_EQ(2, parser_.parse(nullptr, 5));
}

TEST_F(JSONParserTest, RepresentationSeparatesEveryEntryIncludingEmptyOnes) {
  ASSERT_EQ(0, Parse("{\"a\":1,\"b\":[],\"c\":true}"));
  EXPECT_EQ("{\"a\":1,,\"c\":true}", parser_.buildJSONRepresentation());
  ASSERT_EQ(0, Parse("{}"));
  EXPECT_EQ("{}", parser_.buildJSONRepresentation());
}

TEST_F(JSONParserTest, CallbackIgnoresUnknownEventsAndNullUserData) {
  EXPECT_EQ(0, JSONParser::parser_callback(nullptr, JSON_STRING, "x", 1));
  EXPECT_EQ(0, JSONParser::parser_callback(&parser_, 0, "x", 1));
  EXPECT_EQ(0, JSONParser::parser_callback(&parser_, 12, "x", 1));
  EXPECT_EQ(0, JSONParser::parser_callback(&parser_, JSON_KEY, "k", 1));
  EXPECT_EQ(0, JSONParser::parser_callback(&parser_, JSON_STRING, nullptr, 5));
  ASSERT_TRUE(parser_.node("k"));
  EXPECT_EQ("", parser_.node("k")->stringValue);
}

TEST_F(JSONParserTest, AddNodeRefusesEmptyPointersAndEmptyKeys) {
  EXPECT_FALSE(parser_.addNode(boost::shared_ptr<JSONNode>()));
  EXPECT_FALSE(parser_.addNode(boost::make_shared<JSONNode>("", 1LL)));
  EXPECT_TRUE(parser_.addNode(boost::make_shared<JSONNode>("k", 1LL)));
  EXPECT_EQ(1u, parser_.nodes.size());
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

INSTANTIATE_TEST_SUITE_P(
    Documents, JSONParserHostileTest,
    ::testing::Values("{\"a\":}", "{\"a\":1}}", "{\"a\":1} trailing", "{\"a\":\"\\q\"}",
                      "{\"a\":\"\\u00\"}", "{\"a\":\"\\udc00\"}", "{\"a\":\"\\ud800\\u0000\"}",
                      std::string("{\"a\":\"\x01\"}"), std::string("{\"a\":\"\0\"}", 8),
                      "{\"a\":01}", "{\"a\":-}", "{\"a\":1.e5}", "{a:1}", "{\"a\"}", "[1,2,,3]",
                      "nul}", "\xEF\xBB\xBF{}", Repeat("[", 65) + Repeat("]", 65),
                      "{\"k\":" + Repeat("[", 64) + Repeat("]", 64) + "}",
                      Repeat("{\"a\":", 100000)));

}  // namespace
